import QtQuick
import "TimeUtils.js" as TimeUtils

// Current read time as HH:mm:ss.
Rectangle {
    id: timeCode

    property var controller: typeof videoWidget !== "undefined" ? videoWidget : null
    property int position: AppState.calculatedPosition
    readonly property string text: TimeUtils.msToHms(position)

    implicitWidth: 120
    implicitHeight: 40
    width: 120
    height: 40
    color: "transparent"

    Connections {
        target: timeCode.controller
        ignoreUnknownSignals: true
        function onTimeChanged() { timeCode.position = timeCode.controller.get_current_read_time_is_ms() }
    }

    Text {
        objectName: "timeCodeText"
        anchors.centerIn: parent
        text: timeCode.text
        font.pixelSize: 16
        font.bold: true
        color: "white"
    }
}
