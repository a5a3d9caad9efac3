import QtQuick
import QtQuick.Layouts
import "components"

// Left panel of the main window: three pages (home, alarms, markers) behind
// three tabs, and a fold button that narrows the panel to its tabs.
Rectangle {
    id: root

    property bool panelOpen: true
    property int expandedWidth: 350
    property int collapsedWidth: 100
    property var controller: typeof videoWidget !== "undefined" ? videoWidget : null
    property alias currentPage: pages.currentIndex
    property alias homePanel: homePanel
    property alias alarmsPanel: alarmsPanel
    property alias markersPanel: markersPanel
    property alias cameraButton: cameraButton

    signal panelStateChanged(bool isOpen)

    color: "#1E1E1E"

    function selectPage(index) {
        pages.currentIndex = index
        if (!panelOpen) {
            panelOpen = true
            panelStateChanged(true)
        }
    }

    function fold() {
        pages.currentIndex = 0
        panelOpen = false
        panelStateChanged(false)
    }

    Component.onCompleted: {
        if (!controller)
            console.error("[SidePanel] videoWidget is not available")
    }

    Item {
        id: panel
        height: parent.height
        width: root.width
        clip: true
        Behavior on width { NumberAnimation { duration: 300; easing.type: Easing.InOutQuad } }

        // Open arrangement: tabs and fold button on top, then the content.
        Item {
            id: openLayout
            anchors.fill: parent
            opacity: root.panelOpen ? 1 : 0
            visible: opacity > 0
            Behavior on opacity { NumberAnimation { duration: 200 } }

            Item {
                id: topRow
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.top: parent.top
                anchors.margins: 10
                height: 60

                Row {
                    anchors.left: parent.left
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 10
                    ButtonTab { objectName: "homeTab"; iconSource: "home"; selected: pages.currentIndex === 0; onClicked: root.selectPage(0) }
                    ButtonTab { objectName: "alarmsTab"; iconSource: "alarm"; selected: pages.currentIndex === 1; onClicked: root.selectPage(1) }
                    ButtonTab { objectName: "markersTab"; iconSource: "mark"; selected: pages.currentIndex === 2; onClicked: root.selectPage(2) }
                }
                ButtonTab {
                    objectName: "foldButton"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    iconSource: "minimize"
                    onClicked: root.fold()
                }
            }

            Item {
                id: content
                anchors.top: topRow.bottom
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.margins: 10
                visible: root.panelOpen

                ButtonCamera {
                    id: cameraButton
                    objectName: "cameraButton"
                    anchors.top: parent.top
                    anchors.left: parent.left
                    anchors.right: parent.right
                    onCameraChanged: function (index) { homePanel.onChooserChanged(index) }
                }

                StackLayout {
                    id: pages
                    anchors.top: cameraButton.bottom
                    anchors.topMargin: 10
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    currentIndex: 0

                    HomePanel {
                        id: homePanel
                        controller: root.controller
                        cameraButton: cameraButton
                    }
                    AlarmsPanel {
                        id: alarmsPanel
                        controller: root.controller
                    }
                    MarkersPanel {
                        id: markersPanel
                        controller: root.controller
                    }
                }
            }
        }

        // Folded arrangement: the tabs in a column, centred in the height.
        Item {
            id: foldedLayout
            anchors.fill: parent
            opacity: root.panelOpen ? 0 : 1
            visible: opacity > 0
            Behavior on opacity { NumberAnimation { duration: 200 } }

            Column {
                anchors.centerIn: parent
                spacing: 20
                ButtonTab { objectName: "homeTabFolded"; iconSource: "home"; selected: pages.currentIndex === 0; onClicked: root.selectPage(0) }
                ButtonTab { objectName: "alarmsTabFolded"; iconSource: "alarm"; selected: pages.currentIndex === 1; onClicked: root.selectPage(1) }
                ButtonTab { objectName: "markersTabFolded"; iconSource: "mark"; selected: pages.currentIndex === 2; onClicked: root.selectPage(2) }
            }
        }
    }
}
