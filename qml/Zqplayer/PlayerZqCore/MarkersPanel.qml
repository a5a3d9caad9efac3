import QtQuick
import QtQuick.Controls.Basic
import "components"
import "TimeUtils.js" as TimeUtils

// Tags (markers) of the selected camera and day; a click seeks to the tag.
Item {
    id: page

    property var controller: null
    property alias list: markerList
    property alias model: markerModel

    function reload() {
        markerModel.clear()
        if (!controller)
            return
        var tags
        try {
            tags = controller.day_tags_list_string()
        } catch (e) {
            console.error("[MarkersPanel] day_tags_list_string failed: " + e)
            return
        }
        if (!tags)
            return
        for (var i = 0; i < tags.length; ++i) {
            var t = tags[i]
            if (!t || !t.tag_datetime)
                continue
            markerModel.append({
                "timestamp": String(t.tag_datetime),
                "label": t.tag_name ? String(t.tag_name) : "Marqueur",
                "description": t.tag_description ? String(t.tag_description) : "Marqueur standard"
            })
        }
    }

    function seek(index) {
        if (controller && index >= 0 && index < markerModel.count)
            controller.set_zqstream_reader_read_timestamp(markerModel.get(index).timestamp)
    }

    Component.onCompleted: reload()

    Connections {
        target: page.controller
        ignoreUnknownSignals: true
        function onDataChanged() { page.reload() }
    }

    ListModel { id: markerModel }

    ListView {
        id: markerList
        objectName: "markerList"
        anchors.fill: parent
        anchors.rightMargin: 10
        clip: true
        model: markerModel
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: scrollBar

        delegate: Item {
            id: row
            required property int index
            required property string timestamp
            required property string label
            required property string description
            width: markerList.width
            height: 120

            Rectangle {
                anchors.fill: parent
                anchors.margins: 4
                radius: 8
                color: rowArea.containsMouse ? "#2C2C2C" : "transparent"
            }

            Column {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                anchors.margins: 10
                spacing: 12

                Rectangle {
                    width: pill.implicitWidth + 24
                    height: 26
                    radius: 13
                    color: "#3A3A3A"
                    border.color: "#5A5A5A"
                    Text {
                        id: pill
                        anchors.centerIn: parent
                        text: TimeUtils.datePart(row.timestamp) + "  " + TimeUtils.timePart(row.timestamp)
                        textFormat: Text.PlainText
                        color: "white"
                        font.pixelSize: 12
                    }
                }
                Row {
                    width: parent.width
                    spacing: 8
                    Image {
                        width: 18
                        height: 18
                        sourceSize.width: 18
                        sourceSize.height: 18
                        source: "qrc:/qml/Zqplayer/resources/icons/mark.svg"
                    }
                    Text {
                        objectName: "markerText"
                        width: parent.width - 26
                        text: row.label + " - " + row.description
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        maximumLineCount: 1
                        color: "white"
                        font.pixelSize: 13
                    }
                }
            }

            SeparatorZqCore {
                anchors.bottom: parent.bottom
                width: parent.width
                visible: row.index < markerList.count - 1
            }

            MouseArea {
                id: rowArea
                anchors.fill: parent
                hoverEnabled: true
                onClicked: page.seek(row.index)
            }
        }
    }

    ScrollBarZqCore {
        id: scrollBar
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        flickable: markerList
    }
}
