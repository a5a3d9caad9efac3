import QtQuick

// Small switch with a chevron knob.
Item {
    id: sw
    property bool checked: false
    signal toggled(bool checked)

    implicitWidth: 44
    implicitHeight: 22

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: sw.checked ? "#2196F3" : "#484848"
        border.color: "#D9D9D9"
        border.width: 1
    }
    Rectangle {
        id: knob
        width: sw.height - 4
        height: width
        radius: width / 2
        y: 2
        x: sw.checked ? sw.width - width - 2 : 2
        color: "white"
        Behavior on x { NumberAnimation { duration: 150 } }
        Image {
            anchors.centerIn: parent
            width: 12
            height: 12
            sourceSize.width: 12
            sourceSize.height: 12
            rotation: sw.checked ? 0 : 180
            source: "qrc:/qml/Zqplayer/resources/icons/double-chevron.svg"
            opacity: 0.6
        }
    }
    MouseArea {
        anchors.fill: parent
        onClicked: { sw.checked = !sw.checked; sw.toggled(sw.checked) }
    }
}
