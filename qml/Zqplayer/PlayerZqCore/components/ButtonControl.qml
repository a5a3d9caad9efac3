import QtQuick
import QtQuick.Controls.Basic

// Square button of the control row: an icon or, without icon, a bold label.
Item {
    id: control

    property string iconSource: ""
    property string text: ""
    property string tooltipText: ""
    property bool isHighlighted: false
    readonly property alias pressed: area.pressed
    readonly property alias hovered: area.containsMouse

    signal clicked()

    implicitWidth: 40
    implicitHeight: 40
    opacity: area.pressed ? 0.7 : 1.0

    Rectangle {
        anchors.fill: parent
        radius: 10
        border.width: 1
        border.color: "#5A5A5A"
        color: control.isHighlighted ? "#6A6A6A"
             : (area.containsMouse && control.enabled ? "#8A8A8A" : "transparent")
    }

    Image {
        anchors.centerIn: parent
        visible: control.iconSource !== ""
        width: 20
        height: 20
        sourceSize.width: 20
        sourceSize.height: 20
        source: control.iconSource !== ""
                ? "qrc:/qml/Zqplayer/resources/icons/" + control.iconSource + ".svg" : ""
        opacity: control.enabled ? 1.0 : 0.5
    }

    Text {
        anchors.centerIn: parent
        visible: control.iconSource === ""
        text: control.text
        textFormat: Text.PlainText
        color: control.enabled ? "white" : "#777777"
        font.pixelSize: 11
        font.bold: true
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: control.clicked()
    }

    ToolTip.visible: tooltipText !== "" && area.containsMouse
    ToolTip.delay: 500
    ToolTip.timeout: 2000
    ToolTip.text: tooltipText
}
