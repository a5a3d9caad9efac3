import QtQuick
import QtTest
import PlayerZqCore

// The side panel's flow against the recording controller: folder, days,
// cameras, automatic start, index regeneration, folding.
TestCase {
    id: tc
    name: "SidePanel"
    width: 350
    height: 900
    visible: true
    when: windowShown

    Component {
        id: panelComponent
        SidePanel { width: 350; height: 900 }
    }
    SignalSpy { id: stateSpy; signalName: "panelStateChanged" }

    // A call-back a test hooked on the fake controller; unhooked even when the test fails.
    property var hook: null
    function cleanup() {
        if (hook)
            videoWidget.calledBack.disconnect(hook)
        hook = null
    }

    function init() {
        videoWidget.reset()
        AppState.currentFolder = ""
        AppInfo.appDir = "/opt/zqplayer"
        AppInfo.parentZQCoreDir = ""
        ZQFolderDialogController.nextFolder = ""
    }

    function makePanel() {
        var p = createTemporaryObject(panelComponent, tc)
        verify(p !== null)
        stateSpy.clear()
        stateSpy.target = p
        return p
    }

    function storage() {
        videoWidget.days = ["2025-06-18", "2025-06-19"]
        videoWidget.camerasByDate = { "2025-06-18": ["Parking", "Entrée Nord"], "2025-06-19": ["Entrée Nord", "Quai 3"] }
        videoWidget.timestamps = [36000000]
        videoWidget.alarms = [ { "datetime": "20250619091625", "thumbnail": "/t.jpg", "image": "/i.jpg" } ]
        videoWidget.tags = [ { "tag_datetime": "20250619094500", "tag_name": "Livraison", "tag_description": "" } ]
    }

    function test_chosenFolderLoadsLastDayAndStarts() {
        storage()
        var p = makePanel()
        var home = p.homePanel
        ZQFolderDialogController.nextFolder = "/media/usb/zqcore_ab12-cd34-ef56-7890"
        videoWidget.clearCalls()
        home.openFolder()
        compare(home.folderText, "/zqcore_ab12-cd34-ef56-7890")
        compare(AppState.currentFolder, "/media/usb/zqcore_ab12-cd34-ef56-7890")
        compare(home.selectedDate, "2025-06-19")
        compare(home.calendar.formatDay(home.calendar.selectedDate), "2025-06-19")
        compare(home.calendar.monthKey(home.calendar.currentMonth), "2025-06")
        compare(p.cameraButton.count, 2)
        compare(p.cameraButton.currentIndex, 0)
        compare(videoWidget.callCount("set_selected_camera_id"), 1)
        compare(videoWidget.lastArgs("set_selected_camera_id")[1], "Entrée Nord")
        // The day lists were read after the camera was set.
        var names = videoWidget.callNames()
        verify(names.indexOf("set_selected_camera_id") < names.indexOf("day_timestamp_list"))
        // Automatic start 500 ms later.
        compare(videoWidget.callCount("start_button"), 0)
        tryCompare(videoWidget, "selectedCamera", "Entrée Nord")
        tryVerify(function () { return videoWidget.callCount("start_button") === 1 }, 1500)
        verify(p.homePanel.regenerateButton.enabled)
    }

    // A first index build longer than the start delay: playback starts once the lists are in.
    function test_automaticStartWaitsForIndex() {
        storage()
        var p = makePanel()
        p.homePanel.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        videoWidget.startIndexGeneration()
        verify(p.homePanel.indexing)
        wait(800)
        compare(videoWidget.callCount("start_button"), 0)
        videoWidget.indexGenerated()
        compare(videoWidget.callCount("start_button"), 1)
        wait(600)
        compare(videoWidget.callCount("start_button"), 1)
    }

    function test_cancelledDialogKeepsFolder() {
        storage()
        var p = makePanel()
        ZQFolderDialogController.nextFolder = "/data/zqcore_ab12-cd34-ef56-7890"
        p.homePanel.openFolder()
        videoWidget.clearCalls()
        ZQFolderDialogController.nextFolder = ""
        p.homePanel.openFolder()
        compare(videoWidget.calls().length, 0)
        compare(p.homePanel.folderText, "/zqcore_ab12-cd34-ef56-7890")
        compare(AppState.currentFolder, "/data/zqcore_ab12-cd34-ef56-7890")
    }

    function test_folderWithoutDays() {
        var p = makePanel()
        p.homePanel.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        compare(p.homePanel.folderText, "Aucun dossier sélectionné")
        compare(p.homePanel.selectedDate, "")
        compare(p.cameraButton.count, 0)
        verify(!p.cameraButton.enabled)
        compare(p.cameraButton.displayText, "Aucune caméra")
        compare(videoWidget.callCount("get_cameras_for_date"), 0)
    }

    function test_dayChangeSetsCameraOnce() {
        storage()
        var p = makePanel()
        p.homePanel.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        videoWidget.clearCalls()
        // "Quai 3" is not recorded on the 18th: the first camera of that day is taken.
        videoWidget.selectedCamera = "Quai 3"
        p.homePanel.onDateSelected(new Date(2025, 5, 18))
        compare(videoWidget.lastArgs("set_selected_date")[0], "2025-06-18")
        compare(videoWidget.callCount("set_selected_camera_id"), 1)
        compare(videoWidget.lastArgs("set_selected_camera_id")[1], "Parking")
        compare(videoWidget.callCount("start_button"), 0)
        // A camera remembered and present stays.
        videoWidget.clearCalls()
        videoWidget.selectedCamera = "Entrée Nord"
        p.homePanel.onDateSelected(new Date(2025, 5, 18))
        compare(videoWidget.callCount("set_selected_camera_id"), 1)
        compare(videoWidget.lastArgs("set_selected_camera_id")[1], "Entrée Nord")
        compare(p.cameraButton.currentIndex, 1)
    }

    function test_chooserChangeSwitchesCamera() {
        storage()
        var p = makePanel()
        p.homePanel.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        videoWidget.clearCalls()
        p.cameraButton.currentIndex = 1
        compare(videoWidget.callCount("set_selected_camera_id"), 1)
        compare(videoWidget.lastArgs("set_selected_camera_id")[1], "Quai 3")
        compare(AppState.currentMarkers.length, 1)
    }

    // Two cameras of one name: the second one is chosen by its id, not mapped back to the first.
    function test_camerasSharingAName() {
        storage()
        videoWidget.camerasByDate = { "2025-06-18": ["Parking"], "2025-06-19": ["Quai", "Quai"] }
        var p = makePanel()
        p.homePanel.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        compare(videoWidget.lastArgs("set_selected_camera_id")[0], 1)
        videoWidget.clearCalls()
        p.cameraButton.currentIndex = 1
        compare(videoWidget.callCount("set_selected_camera_id"), 1)
        compare(videoWidget.lastArgs("set_selected_camera_id")[0], 2)
        // The same day again keeps the second camera.
        videoWidget.clearCalls()
        p.homePanel.onDateSelected(new Date(2025, 5, 19))
        compare(videoWidget.lastArgs("set_selected_camera_id")[0], 2)
        compare(p.cameraButton.currentIndex, 1)
    }

    function test_automaticFolder_data() {
        return [
            { tag: "program inside the root", appDir: "/r/zqcore_ab12-cd34-ef56-7890", parent: "", opened: "/r/zqcore_ab12-cd34-ef56-7890" },
            { tag: "program below the root", appDir: "/r/zqcore_ab12-cd34-ef56-7890/player/bin", parent: "/r/zqcore_ab12-cd34-ef56-7890", opened: "/r/zqcore_ab12-cd34-ef56-7890" },
            { tag: "no root", appDir: "/opt/zqplayer", parent: "", opened: "" }
        ]
    }
    function test_automaticFolder(data) {
        storage()
        AppInfo.appDir = data.appDir
        AppInfo.parentZQCoreDir = data.parent
        videoWidget.zqcoreDirs = ["/r/zqcore_ab12-cd34-ef56-7890"]
        var p = makePanel()
        compare(AppState.currentFolder, data.opened)
        compare(videoWidget.callCount("get_available_days"), data.opened === "" ? 0 : 1)
    }

    // The regeneration button waits for a day whose cameras were loaded: a day without camera
    // leaves it disabled, a day with cameras enables it, and a later empty day keeps it enabled.
    function test_regenerationButtonAfterCameras() {
        storage()
        videoWidget.camerasByDate = { "2025-06-18": ["Parking"], "2025-06-19": [] }
        var p = makePanel()
        var home = p.homePanel
        verify(!home.regenerateButton.enabled)
        home.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        compare(home.selectedDate, "2025-06-19")
        compare(p.cameraButton.count, 0)
        verify(!home.regenerateButton.enabled)
        home.onDateSelected(new Date(2025, 5, 18))
        verify(home.regenerateButton.enabled)
        home.onDateSelected(new Date(2025, 5, 19))
        verify(home.regenerateButton.enabled)
    }

    // The controller starts an index build inside get_cameras_for_date when the day has no
    // current index. Its end, whichever way it ends, enables the button only once cameras were
    // loaded: a first day without camera leaves it disabled; after a day with cameras, the same
    // build on an empty day gives it back.
    function test_regenerationButtonAfterAutomaticBuild_data() {
        return [
            { tag: "build succeeds", failed: false },
            { tag: "build fails", failed: true }
        ]
    }
    function test_regenerationButtonAfterAutomaticBuild(data) {
        storage()
        videoWidget.camerasByDate = { "2025-06-18": ["Parking"], "2025-06-19": [] }
        var p = makePanel()
        var home = p.homePanel
        var building = false
        // As the controller does: the first load of a day without index starts a build, within
        // the call; the load after the build finds the index.
        var startBuild = function (name) {
            if (name === "get_cameras_for_date" && !building) {
                building = true
                videoWidget.startIndexGeneration()
            }
        }
        var endBuild = function () {
            if (data.failed)
                videoWidget.indexFailed()
            else
                videoWidget.indexGenerated()
        }
        hook = startBuild
        videoWidget.calledBack.connect(startBuild)
        home.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        verify(home.indexing)
        verify(!home.regenerateButton.enabled)
        endBuild()
        verify(!home.indexing)
        compare(home.indexResult.visible, true)
        compare(p.cameraButton.count, 0)
        verify(!home.regenerateButton.enabled)

        // A day with cameras, after its own build: enabled.
        building = false
        home.onDateSelected(new Date(2025, 5, 18))
        verify(home.indexing)
        verify(!home.regenerateButton.enabled)
        endBuild()
        compare(p.cameraButton.count, 1)
        verify(home.regenerateButton.enabled)

        // The empty day again: disabled while its build runs, enabled after it.
        building = false
        home.onDateSelected(new Date(2025, 5, 19))
        verify(!home.regenerateButton.enabled)
        endBuild()
        compare(p.cameraButton.count, 0)
        verify(home.regenerateButton.enabled)
    }

    function test_regenerationFailure() {
        storage()
        var p = makePanel()
        var home = p.homePanel
        home.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        verify(home.regenerateButton.enabled)
        home.regenerate()
        compare(videoWidget.callCount("regenerate_index"), 1)
        verify(!home.regenerateButton.enabled)
        verify(home.indexStatus.visible)
        videoWidget.indexFailed()
        verify(home.regenerateButton.enabled)
        verify(home.indexResult.visible)
        compare(home.indexResult.text, "Échec de l’indexation")
        compare(home.indexResult.color, Qt.color("red"))
    }

    function test_regenerationSuccessReloadsCameras() {
        storage()
        var p = makePanel()
        var home = p.homePanel
        home.selectFolder("/data/zqcore_ab12-cd34-ef56-7890")
        home.regenerate()
        videoWidget.clearCalls()
        videoWidget.indexGenerated()
        compare(videoWidget.callCount("get_cameras_for_date"), 1)
        compare(videoWidget.callCount("set_selected_camera_id"), 1)
        compare(home.indexResult.text, "Indexation terminée")
        compare(home.indexResult.color, Qt.color("white"))
    }

    function test_automaticRebuildBlinks() {
        var p = makePanel()
        var home = p.homePanel
        videoWidget.startIndexGeneration()
        verify(home.indexing)
        verify(home.indexStatus.visible)
        verify(!home.regenerateButton.enabled)
        videoWidget.indexGenerated()
        verify(!home.indexing)
    }

    function test_foldingAndTabs() {
        var p = makePanel()
        p.fold()
        verify(!p.panelOpen)
        compare(stateSpy.count, 1)
        compare(stateSpy.signalArguments[0][0], false)
        // A tab while folded opens the panel on its page.
        p.selectPage(1)
        verify(p.panelOpen)
        compare(p.currentPage, 1)
        compare(stateSpy.count, 2)
        compare(stateSpy.signalArguments[1][0], true)
        // Folding always returns to the home page.
        p.fold()
        compare(p.currentPage, 0)
        // A tab while open only switches the page.
        p.selectPage(0)
        p.selectPage(2)
        compare(stateSpy.count, 4)
        compare(p.currentPage, 2)
    }
}
