import QtQuick
import QtQuick.Controls.Basic
import "components"
import "TimeUtils.js" as TimeUtils

// Alarm pictures of the selected camera and day; a click seeks to the alarm,
// the arrow button opens the full picture in the viewer.
Item {
    id: page

    property var controller: null
    property alias list: alarmList
    property alias model: alarmModel

    function reload() {
        alarmModel.clear()
        if (!controller)
            return
        var alarms
        try {
            alarms = controller.day_alarm_list_string()
        } catch (e) {
            console.error("[AlarmsPanel] day_alarm_list_string failed: " + e)
            return
        }
        if (!alarms)
            return
        for (var i = 0; i < alarms.length; ++i) {
            var a = alarms[i]
            if (!a || !a.datetime || !a.thumbnail)
                continue
            alarmModel.append({
                "timestamp": String(a.datetime),
                "imagePath": a.image ? String(a.image) : "",
                "thumbnailPath": String(a.thumbnail),
                "type": a.type !== undefined ? String(a.type) : "",
                "severity": a.severity !== undefined ? String(a.severity) : "",
                "cameraId": a.cameraId !== undefined ? String(a.cameraId) : ""
            })
        }
    }

    function seek(index) {
        if (controller && index >= 0 && index < alarmModel.count)
            controller.set_zqstream_reader_read_timestamp(alarmModel.get(index).timestamp)
    }

    function openPicture(index) {
        if (!controller || index < 0 || index >= alarmModel.count)
            return
        var row = alarmModel.get(index)
        controller.open_alarm_popup(row.imagePath !== "" ? row.imagePath : row.thumbnailPath)
    }

    Connections {
        target: AppState
        function onCurrentAlarmsChanged() { page.reload() }
    }
    Connections {
        target: page.controller
        ignoreUnknownSignals: true
        function onDataChanged() { page.reload() }
    }

    ListModel { id: alarmModel }

    ListView {
        id: alarmList
        objectName: "alarmList"
        anchors.fill: parent
        anchors.rightMargin: 10
        clip: true
        spacing: 10
        model: alarmModel
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: scrollBar

        delegate: Item {
            id: row
            required property int index
            required property string timestamp
            required property string thumbnailPath
            width: alarmList.width
            height: Math.round(width * 9 / 16)

            Rectangle {
                anchors.fill: parent
                radius: 8
                color: "#2C2C2C"
                clip: true

                Image {
                    anchors.fill: parent
                    fillMode: Image.PreserveAspectCrop
                    asynchronous: true
                    sourceSize.width: 480
                    source: TimeUtils.fileUrl(row.thumbnailPath)
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: page.seek(row.index)
                }
                Rectangle {
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    height: 36
                    color: "#B0000000"
                    Text {
                        anchors.left: parent.left
                        anchors.leftMargin: 10
                        anchors.verticalCenter: parent.verticalCenter
                        text: TimeUtils.datePart(row.timestamp) + "   " + TimeUtils.timePart(row.timestamp)
                        textFormat: Text.PlainText
                        color: "white"
                        font.pixelSize: 13
                    }
                    Rectangle {
                        objectName: "openButton"
                        anchors.right: parent.right
                        anchors.rightMargin: 6
                        anchors.verticalCenter: parent.verticalCenter
                        width: 28
                        height: 28
                        radius: 14
                        color: openArea.containsMouse ? "#5A5A5A" : "#3A3A3A"
                        border.color: "#D9D9D9"
                        Text {
                            anchors.centerIn: parent
                            text: "\u2193"
                            color: "white"
                            font.pixelSize: 15
                            font.bold: true
                        }
                        MouseArea {
                            id: openArea
                            anchors.fill: parent
                            hoverEnabled: true
                            onClicked: page.openPicture(row.index)
                        }
                    }
                }
            }
        }
    }

    ScrollBarZqCore {
        id: scrollBar
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        flickable: alarmList
    }
}
