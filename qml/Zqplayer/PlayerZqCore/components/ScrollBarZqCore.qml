import QtQuick
import QtQuick.Controls.Basic

// Thin scroll bar of the side panel lists: 6 pixels, a thumb of at least
// 40 pixels, shown only when the list overflows; the wheel over it scrolls
// 60 pixels a notch.
ScrollBar {
    id: bar
    property Flickable flickable: null

    policy: flickable && flickable.contentHeight > flickable.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
    width: 6
    padding: 0
    minimumSize: height > 0 ? Math.min(1, 40 / height) : 0
    contentItem: Rectangle {
        implicitWidth: 6
        radius: 3
        color: bar.pressed ? "#BBBBBB" : "#888888"
    }
    background: Rectangle {
        implicitWidth: 6
        radius: 3
        color: "#2C2C2C"
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        onWheel: function (wheel) {
            if (!bar.flickable)
                return
            var f = bar.flickable
            var notches = wheel.angleDelta.y / 120
            var maxY = Math.max(0, f.contentHeight - f.height)
            f.contentY = Math.max(0, Math.min(maxY, f.contentY - notches * 60))
            wheel.accepted = true
        }
    }
}
