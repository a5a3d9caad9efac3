import QtQuick

// A one-pixel line that fades out at both ends.
Rectangle {
    id: sep
    property color lineColor: "#D9D9D9"
    implicitWidth: 200
    implicitHeight: 1
    height: 1
    gradient: Gradient {
        orientation: Gradient.Horizontal
        GradientStop { position: 0.0; color: "transparent" }
        GradientStop { position: 0.2; color: sep.lineColor }
        GradientStop { position: 0.8; color: sep.lineColor }
        GradientStop { position: 1.0; color: "transparent" }
    }
}
