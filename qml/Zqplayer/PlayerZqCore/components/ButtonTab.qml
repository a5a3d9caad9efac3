import QtQuick

// 48 x 48 page tab of the side panel; the current page's tab has a white frame.
Item {
    id: tab
    property string iconSource: ""
    property bool selected: false
    signal clicked()

    implicitWidth: 48
    implicitHeight: 48

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: area.containsMouse ? "#3A3A3A" : "#2C2C2C"
        border.width: tab.selected ? 1 : 0
        border.color: "white"
    }
    Image {
        anchors.centerIn: parent
        width: 24
        height: 24
        sourceSize.width: 24
        sourceSize.height: 24
        source: tab.iconSource !== "" ? "qrc:/qml/Zqplayer/resources/icons/" + tab.iconSource + ".svg" : ""
    }
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: tab.clicked()
    }
}
