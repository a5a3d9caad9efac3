import QtQuick
import QtQuick.Controls.Basic
import "components"
import "TimeUtils.js" as TimeUtils

// Row of playback controls under the timeline.
Item {
    id: controls

    property var controller: typeof videoWidget !== "undefined" ? videoWidget : null
    property bool isPlaying: false
    property bool hasVideo: false
    property var options: []
    property string selectedOption: "1"
    readonly property var speeds: [-8.0, -4.0, -2.0, -1.0, 1.0, 2.0, 4.0, 8.0]
    property int selectedIndex: 4
    property alias streamPopup: streamPopup
    readonly property int dayMs: 86400000

    implicitWidth: row.implicitWidth
    implicitHeight: row.implicitHeight

    function currentMs() {
        return controller ? Number(controller.get_current_read_time_is_ms()) : 0
    }

    function seekBy(seconds) {
        if (!controller)
            return
        var target = currentMs() + seconds * 1000
        // Stay inside the day: before midnight, and not past its last second.
        target = Math.max(0, Math.min(dayMs - 1000, target))
        // Set before the call: a seek that finds nothing to play says so (stopRead) during it.
        isPlaying = true
        controller.set_zqstream_reader_read_timestamp(String(target))
    }

    function togglePlay() {
        if (!controller)
            return
        if (isPlaying) {
            controller.pause_button()
            isPlaying = false
        } else {
            isPlaying = true
            controller.start_button()
        }
    }

    function stepBack() {
        if (controller) controller.previous_frame_button()
        isPlaying = false
    }
    function stepForward() {
        if (controller) controller.next_frame_button()
        isPlaying = false
    }

    function selectSpeed(index) {
        selectedIndex = index
        isPlaying = true
        if (controller) controller.set_playback_rate(Math.round(speeds[index]))
    }

    function listStreams() {
        if (!controller)
            return []
        var list = controller.get_videostreams_list()
        var out = []
        for (var i = 0; list && i < list.length; ++i)
            out.push(String(list[i]))
        return out
    }

    function chooseStream(id) {
        selectedOption = String(id)
        streamPopup.close()
        selectedIndex = 4
        if (controller) {
            controller.set_playback_rate(1)
            controller.set_selected_videostream(parseInt(id, 10))
        }
    }

    function openStreamPopup() {
        // Measure first; open once the height holds still between two polls.
        streamPopup.lastHeight = -1
        measureTimer.restart()
    }

    Connections {
        target: controls.controller
        ignoreUnknownSignals: true
        function onStartRead() {
            controls.isPlaying = true
            controls.hasVideo = true
            controls.options = controls.listStreams()
        }
        // Reading ended by itself (past the day's last recording, or its first one backward), or
        // a seek found nothing to play: the play icon shows, and Play starts again from there.
        function onStopRead() { controls.isPlaying = false }
        function onUpdateStreams() { controls.options = controls.listStreams() }
        function onDataChanged() {
            controls.hasVideo = true
            controls.selectedIndex = 4
            if (controls.controller) controls.controller.set_playback_rate(1)
            controls.isPlaying = false
        }
    }

    // Groups 10 pixels apart, with wider gaps before the seek-back group (40), the tools (40)
    // and the data group (20).
    Row {
        id: row
        spacing: 0

        // Speeds: two rows of four.
        Grid {
            id: speedGrid
            anchors.verticalCenter: parent.verticalCenter
            columns: 4
            columnSpacing: 5
            rowSpacing: 0
            Repeater {
                model: controls.speeds.length
                ButtonControl {
                    required property int index
                    objectName: "speed" + index
                    width: 40
                    height: 20
                    enabled: controls.hasVideo
                    text: controls.speeds[index] + "x"
                    isHighlighted: controls.selectedIndex === index
                    tooltipText: index < 4 ? "Lecture en retour arrière à vitesse " + controls.speeds[index] + "x"
                                           : "Lecture en vitesse " + controls.speeds[index] + "x"
                    onClicked: controls.selectSpeed(index)
                }
            }
        }

        Item { width: 40; height: 1 }

        Row {
            spacing: 5
            ButtonControl { objectName: "back30"; enabled: controls.hasVideo; iconSource: "minus-30"; tooltipText: "Reculer de 30 secondes"; onClicked: controls.seekBy(-30) }
            ButtonControl { objectName: "back10"; enabled: controls.hasVideo; iconSource: "minus-10"; tooltipText: "Reculer de 10 secondes"; onClicked: controls.seekBy(-10) }
            ButtonControl { objectName: "back5"; enabled: controls.hasVideo; iconSource: "minus-5"; tooltipText: "Reculer de 5 secondes"; onClicked: controls.seekBy(-5) }
        }
        Item { width: 10; height: 1 }
        Row {
            spacing: 5
            ButtonControl { objectName: "stepBackward"; enabled: controls.hasVideo; iconSource: "step_backward"; tooltipText: "Image précédente"; onClicked: controls.stepBack() }
            ButtonControl { objectName: "playPause"; enabled: controls.hasVideo; iconSource: controls.isPlaying ? "pause" : "play"; onClicked: controls.togglePlay() }
            ButtonControl { objectName: "stepForward"; enabled: controls.hasVideo; iconSource: "step_forward"; tooltipText: "Image suivante"; onClicked: controls.stepForward() }
        }
        Item { width: 10; height: 1 }
        Row {
            spacing: 5
            ButtonControl { objectName: "more5"; enabled: controls.hasVideo; iconSource: "more-5"; tooltipText: "Avancer de 5 secondes"; onClicked: controls.seekBy(5) }
            ButtonControl { objectName: "more10"; enabled: controls.hasVideo; iconSource: "more-10"; tooltipText: "Avancer de 10 secondes"; onClicked: controls.seekBy(10) }
            ButtonControl { objectName: "more30"; enabled: controls.hasVideo; iconSource: "more-30"; tooltipText: "Avancer de 30 secondes"; onClicked: controls.seekBy(30) }
        }

        Item { width: 40; height: 1 }

        Row {
            spacing: 5
            ButtonControl { id: settingsButton; objectName: "settings"; enabled: controls.hasVideo; iconSource: "settings"; tooltipText: "Paramêtres"; onClicked: controls.openStreamPopup() }
            ButtonControl { objectName: "snapshot"; enabled: controls.hasVideo; iconSource: "screenshot"; tooltipText: "Capture"; onClicked: if (controls.controller) controls.controller.snapshot_full_button() }
        }

        Item { width: 20; height: 1 }

        Row {
            spacing: 5
            ButtonControl { objectName: "integrity"; enabled: controls.hasVideo; iconSource: "check"; tooltipText: "Vérification de l'intégrité des données vidéo"; onClicked: if (controls.controller) controls.controller.check_integrity() }
            ButtonControl { objectName: "export"; enabled: controls.hasVideo; iconSource: "export"; tooltipText: "Exportation vidéo"; onClicked: if (controls.controller) controls.controller.video_export() }
        }
    }

    Timer {
        id: measureTimer
        interval: 10
        repeat: true
        onTriggered: {
            var h = streamPopup.implicitHeight
            if (h > 0 && h === streamPopup.lastHeight) {
                stop()
                var corner = settingsButton.mapToItem(controls, settingsButton.width, settingsButton.height)
                streamPopup.anchorX = corner.x
                streamPopup.anchorY = corner.y
                streamPopup.open()
            }
            streamPopup.lastHeight = h
        }
    }

    Popup {
        id: streamPopup
        objectName: "streamPopup"
        property real lastHeight: -1
        // Bottom-left corner of the pop-up, whatever height it takes once open.
        property real anchorX: 0
        property real anchorY: 0
        x: anchorX
        y: anchorY - height
        padding: 10
        modal: false
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
        background: Rectangle { color: "white"; radius: 4 }
        contentItem: Column {
            spacing: 6
            Text {
                text: "Choix du flux vidéo"
                font.bold: true
                font.pixelSize: 13
                color: "black"
            }
            Text {
                visible: controls.options.length === 0
                text: "Aucun flux vidéo disponible"
                font.italic: true
                font.pixelSize: 12
                color: "grey"
            }
            Repeater {
                // Built when the pop-up opens, not at each start of reading.
                model: streamPopup.visible ? controls.options : []
                RadioButton {
                    id: streamChoice
                    required property var modelData
                    objectName: "streamChoice"
                    text: "Vidéo " + modelData
                    checked: String(modelData) === controls.selectedOption
                    font.pixelSize: 12
                    onClicked: controls.chooseStream(modelData)
                    // Stream ids come from the recording's seek index: plain text.
                    contentItem: Text {
                        objectName: "streamChoiceText"
                        leftPadding: streamChoice.indicator.width + streamChoice.spacing
                        verticalAlignment: Text.AlignVCenter
                        text: streamChoice.text
                        textFormat: Text.PlainText
                        font: streamChoice.font
                        color: "black"
                    }
                }
            }
        }
    }
}
