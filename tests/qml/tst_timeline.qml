import QtQuick
import QtTest
import PlayerZqCore

// Timeline maths and gestures: conversions, wheel zoom, ruler steps, fit,
// preview slots, click / double click / drag, flags and the controls' seeks.
TestCase {
    id: tc
    name: "Timeline"
    width: 1440
    height: 250
    visible: true
    when: windowShown

    Component {
        id: timelineComponent
        Timeline { width: 1440; height: 160 }
    }
    Component {
        id: controlsComponent
        Controls { }
    }

    function init() {
        videoWidget.reset()
    }

    function makeTimeline() {
        var t = createTemporaryObject(timelineComponent, tc)
        verify(t !== null)
        return t
    }

    function test_conversions_data() {
        return [
            { tag: "midnight at zoom 1", zoom: 1, offset: 0, ms: 0, x: 0 },
            { tag: "noon at zoom 1", zoom: 1, offset: 0, ms: 43200000, x: 720 },
            { tag: "end of day", zoom: 1, offset: 0, ms: 86400000, x: 1440 },
            { tag: "zoom 4 shifted", zoom: 4, offset: -1440, ms: 43200000, x: 1440 },
            { tag: "zoom 10 shifted", zoom: 10, offset: -7200, ms: 36000000, x: -1200 }
        ]
    }
    function test_conversions(data) {
        var t = makeTimeline()
        t.zoomFactor = data.zoom
        t.timelineOffsetX = data.offset
        fuzzyCompare(t.msToX(data.ms), data.x, 1e-6)
        if (data.x >= 0 && data.x <= 1440)
            compare(t.xToMs(data.x), Math.min(data.ms, 86400000))
    }

    function test_xToMsClamps() {
        var t = makeTimeline()
        compare(t.xToMs(-50), 0)
        compare(t.xToMs(5000), 86400000)
        // A click at 10:15:30 at zoom 1 lands on its millisecond, floored.
        compare(t.xToMs(t.msToX(36930000)), 36930000)
    }

    function test_wheelZoom_data() {
        return [
            { tag: "in from 1", from: 1, delta: 120, expected: 1.24 },
            { tag: "in from 50", from: 50, delta: 120, expected: 50 * (1 + 0.24 * Math.pow(1 - 49 / 99, 2)) },
            { tag: "big delta capped", from: 1, delta: 1200, expected: 1.3 },
            { tag: "out from 2", from: 2, delta: -120, expected: 2 / 1.24 },
            { tag: "out floor", from: 1.1, delta: -120, expected: 1 },
            { tag: "near the ceiling a tiny step is ignored", from: 99.9, delta: 1200, expected: 99.9 },
            { tag: "in from 99", from: 99, delta: 1200, expected: 99 * (1 + 0.3 * Math.pow(1 / 99, 2)) },
            { tag: "nothing above max", from: 100, delta: 120, expected: 100 },
            { tag: "nothing below min", from: 1, delta: -120, expected: 1 }
        ]
    }
    function test_wheelZoom(data) {
        var t = makeTimeline()
        t.zoomFactor = data.from
        t.timelineOffsetX = 0
        t.enforceOffsetBounds()
        t.wheelZoom(300, data.delta)
        fuzzyCompare(t.zoomFactor, data.expected, 1e-4)
    }

    function test_wheelZoomKeepsTimeUnderPointer() {
        var t = makeTimeline()
        var pointer = 500
        var before = t.xToMs(pointer)
        for (var i = 0; i < 10; ++i)
            t.wheelZoom(pointer, 120)
        verify(t.zoomFactor > 5)
        verify(Math.abs(t.xToMs(pointer) - before) < 1000)
        verify(t.timelineOffsetX <= 0)
        verify(t.timelineOffsetX >= t.width - t.width * t.zoomFactor)
    }

    function test_tickStep_data() {
        return [
            { tag: "whole day", zoom: 1, step: 7200000 },          // 80 px = 1 h 20 min
            { tag: "2 h in 1440 px", zoom: 12, step: 600000 },      // 80 px = 6 min 40 s
            { tag: "deep zoom", zoom: 100, step: 60000 },           // 80 px = 48 s
            { tag: "zoom 3", zoom: 3, step: 1800000 }               // 80 px = 26 min 40 s
        ]
    }
    function test_tickStep(data) {
        var t = makeTimeline()
        t.zoomFactor = data.zoom
        compare(t.stepMs, data.step)
    }

    function test_ticksOnlyInView() {
        var t = makeTimeline()
        t.zoomFactor = 100
        t.timelineOffsetX = -72000
        t.enforceOffsetBounds()
        var ticks = t.visibleTicks
        // At zoom 100 one minute is 100 px: about 15 ticks for 1440 px, never the 1440 of the day.
        verify(ticks.length > 10 && ticks.length < 25, "ticks: " + ticks.length)
        for (var i = 0; i < ticks.length; ++i) {
            compare(ticks[i] % 60000, 0)
            var x = t.msToX(ticks[i])
            verify(x >= -200 && x <= 1640)
        }
    }

    function test_fit_data() {
        return [
            { tag: "one hour", start: 36000000, end: 39600000, zoom: 86400000 / (3600000 * 1.1) },
            { tag: "whole day", start: 0, end: 86400000, zoom: 1 },
            { tag: "ten seconds", start: 36000000, end: 36010000, zoom: 100 }
        ]
    }
    function test_fit(data) {
        var t = makeTimeline()
        t.fitContentToTimeline(data.start, data.end)
        fuzzyCompare(t.zoomFactor, data.zoom, 1e-6)
        if (data.zoom > 1 && data.zoom < 100)
            fuzzyCompare(t.msToX((data.start + data.end) / 2), 720, 1e-3)
    }

    function test_fitIgnoresEmptySpan() {
        var t = makeTimeline()
        t.zoomFactor = 3
        t.fitContentToTimeline(5000, 5000)
        compare(t.zoomFactor, 3)
    }

    function test_previewSlots() {
        videoWidget.previews = [
            { "id": 1, "ms": 36000000, "url": "file:///p/b.jpg" },
            { "id": 1, "ms": 32400000, "url": "file:///p/a.jpg" },
            { "id": 1, "ms": 39600000, "url": "file:///p/c.jpg" }
        ]
        var t = makeTimeline()
        // Sorted by time, whatever the order of the list.
        compare(t.sortedPreviews[0].url, "file:///p/a.jpg")
        compare(t.sortedPreviews[2].url, "file:///p/c.jpg")
        verify(t.stripShown)
        // At zoom 1 one slot of 96 px covers 96 minutes: 09:00 to 11:00 holds two slots.
        var slots = t.visibleSlots
        compare(slots.length, 2)
        compare(slots[0].t, 32400000)
        compare(slots[0].url, "file:///p/a.jpg")
        // The second slot (10:36) has no preview within a minute.
        compare(slots[1].url, "")
        t.fitContentToTimeline(32400000, 39600000)
        slots = t.visibleSlots
        verify(slots.length > 2)
        // About 8.8 minutes a slot: only the slot on 09:00 is within a minute of a preview.
        var found = []
        for (var i = 0; i < slots.length; ++i) {
            if (slots[i].url !== "")
                found.push(slots[i].url)
        }
        compare(found, ["file:///p/a.jpg"])
    }

    function test_previewStripWithoutSpan() {
        videoWidget.previews = [ { "id": 1, "ms": 36000000, "url": "file:///p/a.jpg" } ]
        var t = makeTimeline()
        verify(t.stripShown)
        compare(t.visibleSlots.length, 0)
    }

    function test_nearestPreviewTie() {
        videoWidget.previews = [
            { "id": 1, "ms": 36000000, "url": "early" },
            { "id": 1, "ms": 36000000, "url": "same" },
            { "id": 1, "ms": 36040000, "url": "late" }
        ]
        var t = makeTimeline()
        compare(t.nearestPreviewUrl(36020000), "early")
        compare(t.nearestPreviewUrl(36030000), "late")
        compare(t.nearestPreviewUrl(36100000 + 60000), "")
    }

    function test_loadSegmentsAndFlags() {
        videoWidget.timestamps = [36000000, 36060000, 36120000, 86370000]
        videoWidget.tags = [
            { "tag_datetime": "20250619101530", "tag_name": "A", "tag_description": "" },
            { "tag_datetime": "2025061910", "tag_name": "short" },
            { "tag_datetime": "20250619256000", "tag_name": "bad hour" }
        ]
        videoWidget.alarms = [ { "datetime": "20250619091625" }, { "datetime": "" } ]
        var t = makeTimeline()
        compare(t.videoSegments.length, 4)
        compare(t.videoSegments[3].end, 86430000)
        // Three adjacent files form one drawn run.
        compare(t.drawnSegments.length, 2)
        compare(t.drawnSegments[0].start, 36000000)
        compare(t.drawnSegments[0].end, 36180000)
        compare(t.markerFlags.length, 1)
        compare(t.markerFlags[0].ms, 36930000)
        compare(t.alarmFlags.length, 1)
        compare(t.alarmFlags[0].ms, 33385000)
    }

    function test_dataChangedReloadsAndHidesCursor() {
        var t = makeTimeline()
        videoWidget.readTimeMs = 40000000
        videoWidget.timeChanged()
        compare(t.currentPosition, 40000000)
        verify(t.cursorShown)
        t.zoomFactor = 5
        videoWidget.timestamps = [1000]
        videoWidget.dataChanged()
        compare(t.zoomFactor, 1)
        compare(t.currentPosition, 0)
        verify(!t.cursorShown)
        compare(t.videoSegments.length, 1)
    }

    function test_clickSeeksAfterDelay() {
        var t = makeTimeline()
        // At zoom 100 a pixel is 600 ms: put 10:15:30 exactly under x = 700.
        t.zoomFactor = 100
        t.timelineOffsetX = 700 - 36930000 / 600
        videoWidget.clearCalls()
        mouseClick(t, 700, t.barY + 5)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 0)
        tryCompare(t.clickTimer, "running", false, 1000)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 1)
        compare(videoWidget.lastArgs("set_zqstream_reader_read_timestamp")[0], "36930000")
        verify(t.cursorShown)
    }

    function test_doubleClickNeverSeeks() {
        videoWidget.previews = [
            { "id": 1, "ms": 36000000, "url": "" },
            { "id": 1, "ms": 39600000, "url": "" }
        ]
        var t = makeTimeline()
        videoWidget.clearCalls()
        mouseDoubleClickSequence(t, 300, t.barY + 5)
        wait(400)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 0)
        fuzzyCompare(t.zoomFactor, 86400000 / (3600000 * 1.1), 1e-6)
    }

    function test_dragAtZoomPansWithoutSeek() {
        var t = makeTimeline()
        t.zoomFactor = 4
        t.timelineOffsetX = -1000
        videoWidget.clearCalls()
        var y = t.barY + 5
        mousePress(t, 700, y)
        mouseMove(t, 720, y)
        mouseMove(t, 760, y)
        mouseRelease(t, 760, y)
        wait(400)
        fuzzyCompare(t.timelineOffsetX, -940, 1e-6)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 0)
    }

    function test_pressAtZoomOneNeverDrags() {
        var t = makeTimeline()
        videoWidget.clearCalls()
        var y = t.barY + 5
        mousePress(t, 700, y)
        mouseMove(t, 760, y)
        mouseRelease(t, 760, y)
        compare(t.timelineOffsetX, 0)
        wait(400)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 1)
    }

    function test_rightClickResets() {
        var t = makeTimeline()
        t.zoomFactor = 8
        t.timelineOffsetX = -3000
        mouseClick(t, 100, t.barY + 5, Qt.RightButton)
        compare(t.zoomFactor, 1)
        compare(t.timelineOffsetX, 0)
    }

    function test_alarmFlagHoverAndClick() {
        videoWidget.alarms = [ { "datetime": "20250619120000" } ]
        videoWidget.thumbnailPath = "/data/1_2_20250619_120000-thumb.jpg"
        var t = makeTimeline()
        var x = t.msToX(43200000)
        var y = t.flagsY + 10
        mouseMove(t, x, y)
        tryVerify(function () { return previewPopup.shown > 0 })
        compare(previewPopup.lastPath, "/data/1_2_20250619_120000-thumb.jpg")
        compare(previewPopup.lastText, "20250619120000")
        videoWidget.clearCalls()
        mouseClick(t, x, y)
        wait(300)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 1)
        compare(videoWidget.lastArgs("set_zqstream_reader_read_timestamp")[0], "20250619120000")
    }

    // Zoomed in on the morning, a flag of the evening lies far right of the bar: it is drawn only
    // inside a clipping ancestor no wider than the timeline, never over the rest of the window.
    function test_flagsClippedWhenZoomed() {
        videoWidget.tags = [ { "tag_datetime": "20250619180000", "tag_name": "Soir", "tag_description": "" } ]
        var t = makeTimeline()
        t.zoomFactor = 100
        t.timelineOffsetX = -t.width * 100 * 0.25
        t.enforceOffsetBounds()
        var flag = findChild(t, "tagFlag")
        verify(flag)
        verify(flag.mapToItem(t, 0, 0).x > t.width)
        var clipped = false
        for (var p = flag.parent; p && p !== t; p = p.parent) {
            var at = p.mapToItem(t, 0, 0)
            if (p.clip && at.x >= 0 && at.x + p.width <= t.width)
                clipped = true
        }
        verify(clipped)
    }

    function test_tagFlagBubbleAndClick() {
        videoWidget.tags = [ { "tag_datetime": "20250619120000", "tag_name": "<b>Quai</b>", "tag_description": "" } ]
        var t = makeTimeline()
        var flag = findChild(t, "tagFlag")
        verify(flag)
        var bubble = findChild(flag, "tagBubble")
        mouseMove(flag, 3, 10)
        verify(!bubble.visible)
        tryVerify(function () { return bubble.visible }, 1000)
        var text = findChild(flag, "tagBubbleText")
        compare(text.text, "<b>Quai</b> - Marqueur standard")
        compare(text.textFormat, Text.PlainText)
        mouseMove(t, 10, 10)
        verify(!bubble.visible)
        videoWidget.clearCalls()
        mouseClick(flag, 3, 10)
        wait(300)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 1)
        compare(videoWidget.lastArgs("set_zqstream_reader_read_timestamp")[0], "20250619120000")
    }

    function test_controlsSeeks_data() {
        return [
            { tag: "back 30 at 00:00:10", now: 10000, seconds: -30, expected: "0" },
            { tag: "back 5", now: 36930000, seconds: -5, expected: "36925000" },
            { tag: "forward 10", now: 36930000, seconds: 10, expected: "36940000" },
            { tag: "forward 30 at 23:59:50 stays in the day", now: 86390000, seconds: 30, expected: "86399000" }
        ]
    }
    function test_controlsSeeks(data) {
        var c = createTemporaryObject(controlsComponent, tc)
        videoWidget.readTimeMs = data.now
        c.seekBy(data.seconds)
        compare(videoWidget.lastArgs("set_zqstream_reader_read_timestamp")[0], data.expected)
        verify(c.isPlaying)
    }

    function test_controlsFlow() {
        var c = createTemporaryObject(controlsComponent, tc)
        verify(!c.hasVideo)
        videoWidget.streams = ["1", "2"]
        videoWidget.startRead()
        verify(c.hasVideo)
        verify(c.isPlaying)
        compare(c.options.length, 2)
        c.togglePlay()
        verify(!c.isPlaying)
        compare(videoWidget.callCount("pause_button"), 1)
        c.selectSpeed(1)
        compare(videoWidget.lastArgs("set_playback_rate")[0], -4)
        verify(c.isPlaying)
        c.chooseStream("2")
        compare(c.selectedOption, "2")
        compare(c.selectedIndex, 4)
        compare(videoWidget.lastArgs("set_playback_rate")[0], 1)
        compare(videoWidget.lastArgs("set_selected_videostream")[0], 2)
        wait(0)
        videoWidget.dataChanged()
        verify(!c.isPlaying)
        compare(c.selectedIndex, 4)
    }

    // After a camera switch the icon follows what the reader does: playing on
    // when a recording was found at the read time, stopped otherwise.
    function test_controlsAfterCameraSwitch_data() {
        return [
            { tag: "recording at the read time", found: true, playing: true },
            { tag: "nothing at the read time", found: false, playing: false }
        ]
    }
    function test_controlsAfterCameraSwitch(data) {
        var c = createTemporaryObject(controlsComponent, tc)
        videoWidget.startRead()
        c.togglePlay()
        verify(!c.isPlaying)
        wait(0)
        videoWidget.switchCamera(data.found)
        compare(c.isPlaying, data.playing)
        compare(videoWidget.lastArgs("set_playback_rate")[0], 1)
        // A later change without a new start does not inherit the earlier one.
        wait(0)
        videoWidget.switchCamera(false)
        verify(!c.isPlaying)
    }

    // Reading that ends by itself (or a seek that finds nothing) shows the play icon, and Play
    // asks the controller to start again; a seek into nothing during the call leaves it stopped.
    function test_controlsAfterReadingEnded() {
        var c = createTemporaryObject(controlsComponent, tc)
        var play = findChild(c, "playPause")
        videoWidget.startRead()
        compare(play.iconSource, "pause")
        videoWidget.stopRead()
        verify(!c.isPlaying)
        compare(play.iconSource, "play")
        videoWidget.clearCalls()
        c.togglePlay()
        compare(videoWidget.callNames(), ["start_button"])
        compare(play.iconSource, "pause")
        // The controller answers a seek into nothing with stopRead, within the call.
        videoWidget.stopRead()
        c.togglePlay()
        videoWidget.clearCalls()
        var stop = function () { videoWidget.stopRead() }
        videoWidget.calledBack.connect(stop)
        c.seekBy(30)
        videoWidget.calledBack.disconnect(stop)
        compare(videoWidget.callCount("set_zqstream_reader_read_timestamp"), 1)
        compare(play.iconSource, "play")
    }

    // Groups stand 10 pixels apart, with 40 before the seek-back group and the tools and 20
    // before the integrity and export buttons; buttons of a group 5 apart.
    function test_controlsGaps_data() {
        return [
            { tag: "speeds to seek back", left: "speed3", right: "back30", gap: 40 },
            { tag: "inside a group", left: "back30", right: "back10", gap: 5 },
            { tag: "seek back to frame steps", left: "back5", right: "stepBackward", gap: 10 },
            { tag: "frame steps to seek forward", left: "stepForward", right: "more5", gap: 10 },
            { tag: "seek forward to tools", left: "more30", right: "settings", gap: 40 },
            { tag: "tools to data", left: "snapshot", right: "integrity", gap: 20 }
        ]
    }
    function test_controlsGaps(data) {
        var c = createTemporaryObject(controlsComponent, tc)
        var l = findChild(c, data.left)
        var r = findChild(c, data.right)
        verify(l && r)
        compare(r.mapToItem(c, 0, 0).x - l.mapToItem(c, l.width, 0).x, data.gap)
    }

    function test_streamPopup() {
        var c = createTemporaryObject(controlsComponent, tc, { "y": 200 })
        videoWidget.streams = ["1", "2"]
        videoWidget.startRead()
        // Its choices are built when it opens, not at each start of reading.
        verify(!findChild(c.streamPopup.contentItem, "streamChoice"))
        c.openStreamPopup()
        tryVerify(function () { return c.streamPopup.opened })
        // Opened with its bottom-left corner at the settings button's bottom-right corner.
        var settings = findChild(c, "settings")
        var corner = settings.mapToItem(c, settings.width, settings.height)
        compare(c.streamPopup.x, corner.x)
        fuzzyCompare(c.streamPopup.y + c.streamPopup.height, corner.y, 1)
        // Stream ids are read from the recordings: shown as plain text.
        var label = findChild(c.streamPopup.contentItem, "streamChoiceText")
        verify(label)
        compare(label.text, "Vidéo 1")
        compare(label.textFormat, Text.PlainText)
        videoWidget.clearCalls()
        c.chooseStream("2")
        verify(!c.streamPopup.visible)
        compare(videoWidget.callNames(), ["set_playback_rate", "set_selected_videostream"])
    }

    Component {
        id: timeCodeComponent
        TimeCode { }
    }
    function test_timeCode_data() {
        return [
            { tag: "start", ms: 0, text: "00:00:00" },
            { tag: "morning", ms: 36930000, text: "10:15:30" },
            { tag: "last second", ms: 86399999, text: "23:59:59" },
            { tag: "next day wraps", ms: 86400000 + 61000, text: "00:01:01" }
        ]
    }
    function test_timeCode(data) {
        var c = createTemporaryObject(timeCodeComponent, tc)
        videoWidget.readTimeMs = data.ms
        videoWidget.timeChanged()
        compare(c.text, data.text)
    }
}
