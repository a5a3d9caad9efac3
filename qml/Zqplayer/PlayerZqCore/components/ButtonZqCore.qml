import QtQuick

// Wide button: an icon, a thin divider, then the text.
Item {
    id: button
    property string iconSource: ""
    property string text: ""
    signal clicked()

    implicitWidth: 260
    implicitHeight: 44
    opacity: area.pressed ? 0.7 : 1.0

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: area.containsMouse ? "#3A3A3A" : "#2C2C2C"
        border.width: 1
        border.color: "#5A5A5A"
    }
    Row {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        spacing: 10
        Image {
            anchors.verticalCenter: parent.verticalCenter
            width: 22
            height: 22
            sourceSize.width: 22
            sourceSize.height: 22
            source: button.iconSource !== "" ? "qrc:/qml/Zqplayer/resources/icons/" + button.iconSource + ".svg" : ""
        }
        Rectangle {
            anchors.verticalCenter: parent.verticalCenter
            width: 1
            height: parent.height - 16
            color: "#5A5A5A"
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            width: parent.width - 22 - 1 - 2 * parent.spacing
            text: button.text
            textFormat: Text.PlainText
            elide: Text.ElideMiddle
            color: "white"
            font.pixelSize: 13
        }
    }
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: button.clicked()
    }
}
