import QtQuick
import QtTest
import PlayerZqCore

// Alarm and marker pages: which rows they keep, what they show, what a click does.
TestCase {
    id: tc
    name: "Lists"
    width: 350
    height: 700
    visible: true
    when: windowShown

    Component {
        id: alarmsComponent
        AlarmsPanel { width: 330; height: 700; controller: videoWidget }
    }
    Component {
        id: markersComponent
        MarkersPanel { width: 330; height: 700; controller: videoWidget }
    }

    function init() {
        videoWidget.reset()
    }

    function test_alarmsKeepRowsWithThumbnail() {
        videoWidget.alarms = [
            { "datetime": "20250619091625", "image": "/a/1_7_20250619_091625.jpg", "thumbnail": "/a/1_7_20250619_091625-thumb.jpg", "type": "motion", "severity": 2, "cameraId": 1 },
            { "datetime": "20250619101010", "image": "/a/1_8_20250619_101010.jpg" },
            { "datetime": "2025", "thumbnail": "/a/odd-thumb.jpg" },
            { "thumbnail": "/a/nodate-thumb.jpg" }
        ]
        var page = createTemporaryObject(alarmsComponent, tc)
        // The alarms page waits for its first reload.
        compare(page.model.count, 0)
        AppState.currentAlarms = videoWidget.alarms
        compare(page.model.count, 2)
        compare(page.model.get(0).timestamp, "20250619091625")
        compare(page.model.get(0).severity, "2")
        page.seek(0)
        compare(videoWidget.lastArgs("set_zqstream_reader_read_timestamp")[0], "20250619091625")
        page.openPicture(0)
        compare(videoWidget.lastArgs("open_alarm_popup")[0], "/a/1_7_20250619_091625.jpg")
        videoWidget.alarms = []
        videoWidget.dataChanged()
        compare(page.model.count, 0)
    }

    function test_alarmRowClicks() {
        videoWidget.alarms = [ { "datetime": "20250619091625", "image": "/a/i.jpg", "thumbnail": "/a/t.jpg" } ]
        var page = createTemporaryObject(alarmsComponent, tc)
        videoWidget.dataChanged()
        waitForRendering(page)
        videoWidget.clearCalls()
        mouseClick(page.list, 50, 50)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 1)
        compare(videoWidget.callCount("open_alarm_popup"), 0)
        // Delegates are made when the list lays out, which a loaded machine may do late.
        tryVerify(function() { return findChild(page.list, "openButton") !== null }, 5000)
        var button = findChild(page.list, "openButton")
        mouseClick(button, button.width / 2, button.height / 2)
        compare(videoWidget.callCount("open_alarm_popup"), 1)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 1)
    }

    function test_markers() {
        videoWidget.tags = [
            { "tag_datetime": "20250619094500", "tag_name": "", "tag_description": "" },
            { "tag_datetime": "20250619101500", "tag_name": "<b>Livraison</b>", "tag_description": "Quai" },
            { "tag_name": "sans date" }
        ]
        var page = createTemporaryObject(markersComponent, tc)
        compare(page.model.count, 2)
        compare(page.model.get(0).label, "Marqueur")
        compare(page.model.get(0).description, "Marqueur standard")
        waitForRendering(page)
        tryVerify(function() { return findChild(page.list, "markerText") !== null }, 5000)
        var text = findChild(page.list, "markerText")
        compare(text.text, "Marqueur - Marqueur standard")
        // Storage texts are plain text, never markup.
        compare(text.textFormat, Text.PlainText)
        page.seek(1)
        compare(videoWidget.lastArgs("set_zqstream_reader_read_timestamp")[0], "20250619101500")
    }
}
