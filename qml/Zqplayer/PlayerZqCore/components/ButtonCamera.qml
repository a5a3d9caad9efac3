import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Window

// Camera chooser: one row per camera of the day, "Aucune caméra" while empty.
ComboBox {
    id: chooser

    signal cameraChanged(int index)
    readonly property real screenHeight: Screen.height > 0 ? Screen.height : 1080

    model: ListModel { id: cameraModel }
    textRole: "camera"
    enabled: cameraModel.count > 0
    displayText: cameraModel.count > 0 && currentIndex >= 0 ? currentText : "Aucune caméra"
    implicitHeight: 44
    font.pixelSize: 13

    function clear() {
        cameraModel.clear()
        currentIndex = -1
    }
    function append(name) {
        cameraModel.append({ "camera": name })
    }
    function nameAt(index) {
        return index >= 0 && index < cameraModel.count ? cameraModel.get(index).camera : ""
    }
    function indexOfName(name) {
        for (var i = 0; i < cameraModel.count; ++i) {
            if (cameraModel.get(i).camera === name)
                return i
        }
        return -1
    }

    onCurrentIndexChanged: cameraChanged(currentIndex)

    background: Rectangle {
        radius: 10
        color: chooser.hovered && chooser.enabled ? "#3A3A3A" : "#2C2C2C"
        border.width: 1
        border.color: "#5A5A5A"
    }
    contentItem: Row {
        leftPadding: 12
        spacing: 10
        Image {
            anchors.verticalCenter: parent.verticalCenter
            width: 22
            height: 22
            sourceSize.width: 22
            sourceSize.height: 22
            source: "qrc:/qml/Zqplayer/resources/icons/camera.svg"
            opacity: chooser.enabled ? 1.0 : 0.5
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            width: chooser.width - 90
            text: chooser.displayText
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: chooser.enabled ? "white" : "#8a8a8a"
            font.pixelSize: 13
        }
    }
    indicator: Image {
        x: chooser.width - width - 12
        y: (chooser.height - height) / 2
        width: 16
        height: 16
        sourceSize.width: 16
        sourceSize.height: 16
        source: chooser.popup.visible ? "qrc:/qml/Zqplayer/resources/icons/arrow_up_white.svg"
                                      : "qrc:/qml/Zqplayer/resources/icons/arrow_down_white.svg"
        opacity: chooser.enabled ? 1.0 : 0.5
    }
    delegate: ItemDelegate {
        id: row
        required property int index
        required property string camera
        width: chooser.width
        height: 48
        highlighted: chooser.highlightedIndex === index
        contentItem: Text {
            text: row.camera
            textFormat: Text.PlainText
            elide: Text.ElideRight
            verticalAlignment: Text.AlignVCenter
            color: "white"
            font.pixelSize: 13
            font.bold: chooser.currentIndex === row.index
        }
        background: Rectangle {
            color: row.highlighted ? "#3A3A3A" : "#2C2C2C"
        }
    }
    popup: Popup {
        y: chooser.height + 2
        width: chooser.width
        padding: 1
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
        height: Math.min(contentItem.implicitHeight + 2, 8 * 48 + 2, chooser.screenHeight / 2)
        contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: chooser.popup.visible ? chooser.delegateModel : null
            currentIndex: chooser.highlightedIndex
            ScrollIndicator.vertical: ScrollIndicator {}
        }
        background: Rectangle {
            color: "#2C2C2C"
            border.color: "#5A5A5A"
            radius: 6
        }
    }
}
