import QtQuick
import QtQuick.Layouts

// Panel under the video: the day timeline, the time code and the controls.
Rectangle {
    id: view

    property alias timeline: timeline
    property alias timeCode: timeCode
    property alias controls: controls

    color: "#1E1E1E"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 5
        anchors.bottomMargin: 40
        spacing: 0

        Timeline {
            id: timeline
            Layout.fillWidth: true
            Layout.fillHeight: true
        }

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: Math.max(timeCode.height, controls.implicitHeight)

            TimeCode {
                id: timeCode
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
            }
            Controls {
                id: controls
                anchors.centerIn: parent
            }
        }
    }
}
