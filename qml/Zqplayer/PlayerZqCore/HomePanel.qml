import QtQuick
import QtQuick.Controls.Basic
import "components"

// Home page: the calendar of recorded days, index regeneration and the
// storage-folder button. The camera chooser it fills belongs to the side panel.
Item {
    id: home

    property var controller: null
    property var cameraButton: null
    property string selectedDate: ""
    property string selectedCamera: ""
    // Ids of the cameras listed by the chooser, in its order, and the chosen one (-1 none).
    property var cameraIds: []
    property int selectedCameraId: -1
    property var availableDates: []
    property alias folderText: folderButton.text
    property alias calendar: calendar
    property alias regenerateButton: regenerateButton
    property alias indexStatus: indexStatus
    property alias indexResult: indexResult
    property alias startTimer: startTimer
    // True while the chooser is filled by loadCameras, so that filling it
    // does not switch the camera behind our back.
    property bool fillingCameras: false
    property bool indexing: false
    // Cameras of some day were loaded: from then on the regeneration button is offered (a build
    // ending before that, on a day without camera, leaves it disabled).
    property bool camerasLoaded: false
    // The automatic start came while the day was still being indexed: it happens once the
    // day's lists are in.
    property bool startPending: false

    readonly property string noFolderText: "Aucun dossier sélectionné"

    function log(text) { console.log("[HomePanel] " + text) }

    function folderLabel(path) {
        if (!path)
            return noFolderText
        var parts = String(path).split("/").filter(function (p) { return p.length > 0 })
        return "/" + (parts.length > 0 ? parts[parts.length - 1] : "")
    }

    function openFolder() {
        if (typeof ZQFolderDialogController === "undefined" || !ZQFolderDialogController) {
            console.error("[HomePanel] no folder dialog controller")
            return
        }
        selectFolder(ZQFolderDialogController.openFolderDialog())
    }

    function selectFolder(folderPath) {
        // A cancelled dialog gives an empty path: keep whatever is open.
        if (!folderPath)
            return
        if (!controller) {
            console.error("[HomePanel] no controller")
            return
        }
        folderButton.text = folderLabel(folderPath)
        AppState.currentFolder = folderPath
        var dates = controller.get_available_days(folderPath)
        var list = []
        for (var i = 0; i < dates.length; ++i)
            list.push(dates[i])
        availableDates = list
        calendar.availableDates = JSON.stringify(list)

        var day = controller.selected_date()
        if (day) {
            selectedDate = day
            var d = calendar.parseDay(day)
            calendar.selectDate(d)
            if (d)
                calendar.showMonth(d)
            loadCameras()
            startTimer.restart()
        } else {
            selectedDate = ""
            selectedCamera = ""
            selectedCameraId = -1
            if (cameraButton)
                cameraButton.clear()
            folderButton.text = noFolderText
        }
        AppState.currentAlarms = []
        AppState.currentMarkers = []
        AppState.currentVideos = []
        AppState.currentVideo = ""
    }

    function onDateSelected(date) {
        if (!date || !controller)
            return
        var day = calendar.formatDay(date)
        selectedDate = day
        controller.set_selected_date(day)
        loadCameras()
    }

    function clearDayLists() {
        AppState.currentVideos = []
        AppState.currentAlarms = []
        AppState.currentMarkers = []
        AppState.currentVideo = ""
    }

    function loadCameras() {
        if (!selectedDate) {
            log("load cameras :: no selected day")
            return
        }
        if (!controller)
            return
        var previous = controller.selected_camera()
        var previousId = selectedCameraId
        var cameras = controller.get_cameras_for_date(selectedDate)
        // Two cameras may share a name: they are told apart, and chosen, by id.
        cameraIds = controller.camera_ids()
        fillingCameras = true
        if (cameraButton) {
            cameraButton.clear()
            for (var i = 0; i < cameras.length; ++i)
                cameraButton.append(cameras[i])
        }
        if (cameras.length === 0) {
            fillingCameras = false
            selectedCamera = ""
            selectedCameraId = -1
            clearDayLists()
            return
        }
        var index = 0
        if (previous) {
            // The same camera when it is listed (by id), else the first of the same name.
            var found = -1
            for (var j = 0; j < cameras.length; ++j) {
                if (cameras[j] !== previous)
                    continue
                if (found < 0 || cameraIds[j] === previousId)
                    found = j
            }
            if (found >= 0)
                index = found
            else
                console.warn("[HomePanel] camera " + previous + " not recorded on " + selectedDate)
        }
        if (cameraButton)
            cameraButton.currentIndex = index
        fillingCameras = false
        onCameraSelected(index)
        camerasLoaded = true
        regenerateButton.enabled = !indexing
    }

    function onCameraSelected(index) {
        if (!controller || index < 0 || index >= cameraIds.length)
            return
        selectedCameraId = cameraIds[index]
        controller.set_selected_camera_id(selectedCameraId)
        selectedCamera = controller.selected_camera()
        AppState.currentVideos = controller.day_timestamp_list()
        AppState.currentAlarms = controller.day_alarm_list_string()
        AppState.currentMarkers = controller.day_tags_list_string()
    }

    // Called by the side panel when the operator picks another row.
    function onChooserChanged(index) {
        if (fillingCameras || !cameraButton || index < 0 || cameraButton.count === 0)
            return
        if (index < cameraIds.length && cameraIds[index] !== selectedCameraId)
            onCameraSelected(index)
    }

    function startIndexing() {
        if (indexing)
            return
        indexing = true
        regenerateButton.enabled = false
        resultFade.stop()
        resultHold.stop()
        indexResult.visible = false
        statusFadeOut.stop()
        indexStatus.opacity = 0
        indexStatus.visible = true
        blink.restart()
    }

    function endIndexing(success) {
        if (!indexing)
            return
        indexing = false
        blink.stop()
        statusFadeOut.restart()
        regenerateButton.enabled = camerasLoaded
        indexResult.success = success
        indexResult.text = success ? "Indexation terminée" : "Échec de l’indexation"
        indexResult.opacity = 1
        indexResult.visible = true
        resultHold.restart()
    }

    function regenerate() {
        if (!controller)
            return
        startIndexing()
        controller.regenerate_index()
    }

    Component.onCompleted: {
        if (typeof AppInfo === "undefined" || !AppInfo || !controller || AppState.currentFolder !== "")
            return
        if (controller.is_zqcore_directory(AppInfo.appDir))
            selectFolder(AppInfo.appDir)
        else if (AppInfo.parentZQCoreDir && controller.is_zqcore_directory(AppInfo.parentZQCoreDir))
            selectFolder(AppInfo.parentZQCoreDir)
    }

    // The automatic start, once no index build the day's lists wait for is under way.
    function startWhenReady() {
        if (startPending && !indexing) {
            startPending = false
            controller.start_button()
        }
    }

    Connections {
        target: home.controller
        ignoreUnknownSignals: true
        function onStartIndexGeneration() { home.startIndexing() }
        function onIndexGenerated() {
            home.loadCameras()
            home.endIndexing(true)
            home.startWhenReady()
        }
        function onIndexFailed() {
            home.startPending = false
            home.endIndexing(false)
        }
    }

    Timer {
        id: startTimer
        interval: 500
        repeat: false
        onTriggered: {
            if (!home.controller)
                return
            home.startPending = true
            home.startWhenReady()
        }
    }

    Column {
        anchors.fill: parent
        anchors.topMargin: 10
        spacing: 12

        CustomCalendar {
            id: calendar
            objectName: "calendar"
            width: parent.width
            height: 250
            onDateSelected: function (date) { home.onDateSelected(date) }
        }

        Item {
            width: parent.width
            height: 40

            ButtonControl {
                id: regenerateButton
                objectName: "regenerateButton"
                anchors.left: parent.left
                iconSource: "refresh"
                tooltipText: "Re-générer l’indexation des fichiers"
                enabled: false
                onClicked: home.regenerate()
            }
            Text {
                id: indexStatus
                objectName: "indexStatus"
                anchors.left: regenerateButton.right
                anchors.leftMargin: 12
                anchors.verticalCenter: parent.verticalCenter
                text: "Indexation en cours..."
                color: "white"
                font.pixelSize: 13
                opacity: 0
                visible: false
            }
            Text {
                id: indexResult
                objectName: "indexResult"
                property bool success: true
                anchors.left: regenerateButton.right
                anchors.leftMargin: 12
                anchors.verticalCenter: parent.verticalCenter
                color: success ? "white" : "red"
                font.pixelSize: 13
                visible: false
            }
        }

        SeparatorZqCore { width: parent.width }

        ButtonZqCore {
            id: folderButton
            objectName: "folderButton"
            width: parent.width
            iconSource: "folder_white"
            text: home.noFolderText
            onClicked: home.openFolder()
        }
    }

    SequentialAnimation {
        id: blink
        loops: Animation.Infinite
        NumberAnimation { target: indexStatus; property: "opacity"; from: 0; to: 1; duration: 1000 }
        NumberAnimation { target: indexStatus; property: "opacity"; from: 1; to: 0; duration: 1000 }
    }
    NumberAnimation {
        id: statusFadeOut
        target: indexStatus
        property: "opacity"
        to: 0
        duration: 800
        onFinished: indexStatus.visible = false
    }
    Timer {
        id: resultHold
        interval: 5000
        onTriggered: resultFade.restart()
    }
    NumberAnimation {
        id: resultFade
        target: indexResult
        property: "opacity"
        to: 0
        duration: 800
        onFinished: indexResult.visible = false
    }
}
