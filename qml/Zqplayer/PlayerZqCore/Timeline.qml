import QtQuick
import QtQuick.Controls.Basic
import "TimeUtils.js" as TimeUtils

// The day bar of the selected camera: recorded minutes, previews, alarm and
// tag flags, the play cursor and a ruler; wheel zoom, drag, click to seek.
// Every position is a time in milliseconds since midnight.
Item {
    id: timeline

    property var controller: typeof videoWidget !== "undefined" ? videoWidget : null
    property var popup: typeof previewPopup !== "undefined" ? previewPopup : null

    property real zoomFactor: 1.0
    readonly property real minZoomFactor: 1.0
    readonly property real maxZoomFactor: 100
    property real timelineOffsetX: 0
    readonly property int dayMs: 86400000
    property int minSpacingPx: 80
    property int dragThreshold: 5
    property int currentPosition: 0
    property bool cursorShown: false
    property var videoSegments: []
    property var markers: []
    property var alarms: []
    property var previews: []
    property int imageWidth: 96
    property int preloadMargin: 200

    // Interaction state.
    property bool dragging: false
    property bool pressMoved: false
    property real pressX: 0
    property real lastDragX: 0
    property int pendingClickMs: -1
    property alias clickTimer: clickTimer
    property alias hoverLabel: hoverLabel

    // Derived layers.
    readonly property var drawnSegments: mergeSegments(videoSegments)
    readonly property var sortedPreviews: sortPreviews(previews)
    readonly property var markerFlags: flagsOf(markers, "tag_datetime")
    readonly property var alarmFlags: flagsOf(alarms, "datetime")
    readonly property bool stripShown: sortedPreviews.length > 0
    readonly property real stepMs: computeStepMs()
    readonly property var visibleTicks: computeVisibleTicks()
    readonly property real slotDt: width * zoomFactor > 0 ? imageWidth / (width * zoomFactor) * dayMs : 60000
    readonly property var visibleSlots: updateVisibleSlots()
    // Most ticks and slots that can be in view at once.
    readonly property int tickPoolSize: Math.ceil(Math.max(0, width) / minSpacingPx) + 4
    readonly property int slotPoolSize: Math.ceil((Math.max(0, width) + 2 * preloadMargin) / imageWidth) + 2

    // Vertical layout, from the bottom: ruler, bar, preview strip, flags.
    readonly property int rulerHeight: 20
    readonly property int barHeight: 10
    readonly property real barY: height - rulerHeight - barHeight
    readonly property real stripY: barY - 5 - imageWidth
    readonly property real flagsY: (stripShown ? stripY : barY) - 25
    readonly property real cursorTop: stripShown ? stripY : barY
    readonly property real cursorX: msToX(currentPosition)
    readonly property real pxPerMs: width * zoomFactor / dayMs

    implicitHeight: 40

    function clamp(v, lo, hi) { return Math.max(lo, Math.min(hi, v)) }

    function msToX(ms) {
        return ms / dayMs * width * zoomFactor + timelineOffsetX
    }

    function xToMs(x) {
        var span = width * zoomFactor
        if (span <= 0)
            return 0
        return Math.floor(clamp((x - timelineOffsetX) / span, 0, 1) * dayMs)
    }

    function enforceOffsetBounds() {
        var minOffset = width - width * zoomFactor
        if (timelineOffsetX > 0)
            timelineOffsetX = 0
        if (timelineOffsetX < minOffset)
            timelineOffsetX = minOffset
    }

    function resetZoom() {
        zoomFactor = 1.0
        timelineOffsetX = width / 2 - 0.5 * width * zoomFactor
        enforceOffsetBounds()
    }

    function centerOnCursor() {
        timelineOffsetX = width / 2 - currentPosition / dayMs * width * zoomFactor
        enforceOffsetBounds()
    }

    // Zooms by one wheel event anchored at pointerX; returns whether the zoom changed.
    function wheelZoom(pointerX, delta) {
        var zoomIn = delta > 0
        if (zoomIn && zoomFactor >= maxZoomFactor)
            return false
        if (!zoomIn && zoomFactor <= minZoomFactor)
            return false
        var n = (zoomFactor - 1) / (maxZoomFactor - 1)
        var base = 1 + Math.min(Math.abs(delta) / 500, 0.3)
        var factor = zoomIn ? 1 + (base - 1) * Math.pow(1 - n, 2) : base
        var newZoom = zoomIn ? Math.min(zoomFactor * factor, maxZoomFactor)
                             : Math.max(zoomFactor / factor, minZoomFactor)
        if (Math.abs(newZoom - zoomFactor) < 0.0001)
            return false
        var span = width * zoomFactor
        var r = span > 0 ? clamp((pointerX - timelineOffsetX) / span, 0, 1) : 0
        zoomFactor = newZoom
        timelineOffsetX = pointerX - r * width * newZoom
        enforceOffsetBounds()
        return true
    }

    function panBy(dx) {
        timelineOffsetX += dx
        enforceOffsetBounds()
    }

    function fitContentToTimeline(start, end) {
        if (!(end > start))
            return
        var span = end - start
        zoomFactor = clamp(dayMs / (span * 1.1), minZoomFactor, maxZoomFactor)
        var middle = (start + end) / 2
        timelineOffsetX = width / 2 - middle / dayMs * width * zoomFactor
        enforceOffsetBounds()
    }

    function computeStepMs() {
        var span = width * zoomFactor
        if (span <= 0)
            return 3600000
        var least = dayMs * minSpacingPx / span
        var steps = [60000, 120000, 300000, 600000, 900000, 1800000, 3600000, 7200000, dayMs]
        for (var i = 0; i < steps.length; ++i) {
            if (steps[i] >= least)
                return steps[i]
        }
        return dayMs
    }

    // Only the ticks in view (with one more at each side for their labels).
    function computeVisibleTicks() {
        var step = stepMs
        var count = Math.ceil(dayMs / step)
        if (width <= 0)
            return []
        var first = Math.max(0, Math.floor(xToMs(0) / step) - 1)
        var last = Math.min(count - 1, Math.ceil(xToMs(width) / step) + 1)
        var ticks = []
        for (var k = first; k <= last; ++k)
            ticks.push(k * step)
        return ticks
    }

    // Adjacent or overlapping files are drawn as one run.
    function mergeSegments(list) {
        if (!list || list.length === 0)
            return []
        var sorted = []
        for (var i = 0; i < list.length; ++i)
            sorted.push({ "start": Number(list[i].start), "end": Number(list[i].end) })
        sorted.sort(function (a, b) { return a.start - b.start })
        var runs = [sorted[0]]
        for (var j = 1; j < sorted.length; ++j) {
            var last = runs[runs.length - 1]
            if (sorted[j].start <= last.end)
                last.end = Math.max(last.end, sorted[j].end)
            else
                runs.push(sorted[j])
        }
        return runs
    }

    function sortPreviews(list) {
        var out = []
        if (!list)
            return out
        for (var i = 0; i < list.length; ++i) {
            var p = list[i]
            if (!p)
                continue
            var ms = Number(p.ms)
            if (!isFinite(ms))
                continue
            out.push({ "ms": ms, "url": p.url !== undefined ? String(p.url) : "", "order": i })
        }
        // Stable by time: equal times keep the list's order.
        out.sort(function (a, b) { return a.ms - b.ms || a.order - b.order })
        return out
    }

    // Flags of the maps whose date-time is a real "yyyyMMddHHmmss".
    function flagsOf(list, key) {
        var out = []
        if (!list)
            return out
        for (var i = 0; i < list.length; ++i) {
            var item = list[i]
            if (!item)
                continue
            var ms = TimeUtils.dateTimeToMs(item[key])
            if (ms < 0)
                continue
            out.push({ "ms": ms, "datetime": String(item[key]),
                       "name": item.tag_name !== undefined ? String(item.tag_name) : "",
                       "description": item.tag_description !== undefined ? String(item.tag_description) : "" })
        }
        return out
    }

    // The preview nearest to t, when closer than a minute (the earlier wins a tie).
    function nearestPreviewUrl(t) {
        var p = sortedPreviews
        if (p.length === 0)
            return ""
        var lo = 0, hi = p.length
        while (lo < hi) {
            var mid = (lo + hi) >> 1
            if (p[mid].ms < t) lo = mid + 1; else hi = mid
        }
        var best = -1
        var bestDiff = Infinity
        var candidates = [lo - 1, lo]
        for (var i = 0; i < candidates.length; ++i) {
            var c = candidates[i]
            if (c < 0 || c >= p.length)
                continue
            var diff = Math.abs(p[c].ms - t)
            if (diff < bestDiff) {
                bestDiff = diff
                best = c
            }
        }
        // Several previews at the same time: the first of them in the list.
        while (best > 0 && p[best - 1].ms === p[best].ms)
            --best
        return best >= 0 && bestDiff < 60000 ? p[best].url : ""
    }

    function updateVisibleSlots() {
        var p = sortedPreviews
        if (p.length === 0)
            return []
        var first = p[0].ms
        var last = p[p.length - 1].ms
        var dt = slotDt
        if (!(last > first) || width <= 0 || dt <= 0)
            return []
        var rangeStart = xToMs(-preloadMargin)
        var rangeEnd = xToMs(width + preloadMargin)
        var kStart = Math.max(0, Math.ceil((rangeStart - dt - first) / dt))
        var kEnd = Math.floor((Math.min(last, rangeEnd) - first) / dt)
        var slots = []
        for (var k = kStart; k <= kEnd; ++k) {
            var t = first + k * dt
            if (t > last || t > rangeEnd || t + dt < rangeStart)
                continue
            slots.push({ "t": t, "url": nearestPreviewUrl(t) })
        }
        return slots
    }

    function seekTo(timestamp) {
        if (!controller)
            return
        controller.set_zqstream_reader_read_timestamp(String(timestamp))
    }

    function load(resetPosition) {
        videoSegments = []
        resetZoom()
        if (!controller) {
            markers = []
            alarms = []
            previews = []
            return
        }
        try {
            var starts = controller.day_timestamp_list()
            var segs = []
            for (var i = 0; starts && i < starts.length; ++i) {
                var s = Number(starts[i])
                segs.push({ "start": s, "end": s + 60000 })
            }
            videoSegments = segs
        } catch (e) {
            console.error("[Timeline] day_timestamp_list failed: " + e)
            videoSegments = []
        }
        try {
            markers = controller.day_tags_list_string() || []
        } catch (e2) {
            console.error("[Timeline] day_tags_list_string failed: " + e2)
            markers = []
        }
        try {
            alarms = controller.day_alarm_list_string() || []
        } catch (e3) {
            console.error("[Timeline] day_alarm_list_string failed: " + e3)
            alarms = []
        }
        try {
            previews = controller.day_preview_list_string() || []
        } catch (e4) {
            console.error("[Timeline] day_preview_list_string failed: " + e4)
            previews = []
        }
        if (resetPosition) {
            currentPosition = 0
            cursorShown = false
        }
    }

    function clickAt(x) {
        pendingClickMs = xToMs(x)
        clickTimer.restart()
    }

    Component.onCompleted: load(false)
    onWidthChanged: centerOnCursor()
    onCurrentPositionChanged: cursorShown = true

    Connections {
        target: timeline.controller
        ignoreUnknownSignals: true
        function onTimeChanged() {
            timeline.currentPosition = timeline.controller.get_current_read_time_is_ms()
            timeline.cursorShown = true
        }
        function onDataChanged() { timeline.load(true) }
    }

    Timer {
        id: clickTimer
        interval: 200
        repeat: false
        onTriggered: {
            if (timeline.pressMoved) {
                console.log("[Timeline] press moved by a drag, no seek")
                return
            }
            timeline.seekTo(timeline.pendingClickMs)
            timeline.cursorShown = true
        }
    }

    // The bar and its recorded minutes.
    Rectangle {
        id: bar
        objectName: "bar"
        x: 0
        y: timeline.barY
        width: timeline.width
        height: timeline.barHeight
        radius: height / 2
        color: "#484848"
        border.width: 1
        border.color: "#D9D9D9"

        Item {
            id: segmentArea
            anchors.fill: parent
            anchors.margins: 2
            clip: true
            Repeater {
                model: timeline.drawnSegments
                Rectangle {
                    required property var modelData
                    readonly property real x0: timeline.msToX(modelData.start)
                    x: x0 - segmentArea.x
                    y: 0
                    width: Math.max(1, timeline.msToX(modelData.end) - x0)
                    height: segmentArea.height
                    color: "#B81414"
                }
            }
        }
    }

    // Ruler under the bar.
    Item {
        id: ruler
        y: timeline.barY + timeline.barHeight
        width: timeline.width
        height: timeline.rulerHeight
        clip: true
        // A fixed pool of ticks rebound on every change, so zooming creates no items.
        Repeater {
            model: timeline.tickPoolSize
            Item {
                required property int index
                readonly property bool used: index < timeline.visibleTicks.length
                readonly property real tickMs: used ? timeline.visibleTicks[index] : 0
                visible: used
                x: timeline.msToX(tickMs)
                Rectangle { x: 0; y: 0; width: 1; height: 10; color: "#AAAAAA" }
                Text {
                    x: 2
                    y: 8
                    text: parent.used ? TimeUtils.msToHm(parent.tickMs) : ""
                    font.pixelSize: 10
                    color: "#CCCCCC"
                }
            }
        }
    }

    // Pointer area: clicks, wheel, drags and the hover time.
    MouseArea {
        id: area
        objectName: "timelineArea"
        x: 0
        y: Math.max(0, timeline.cursorTop - 25)
        width: timeline.width
        height: timeline.height - y
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        hoverEnabled: true
        cursorShape: timeline.dragging ? Qt.ClosedHandCursor : Qt.ArrowCursor

        onPressed: function (mouse) {
            if (mouse.button !== Qt.LeftButton)
                return
            timeline.pressMoved = false
            timeline.pressX = mouse.x
            timeline.lastDragX = mouse.x
            timeline.dragging = timeline.zoomFactor > 1
        }
        onPositionChanged: function (mouse) {
            if (!timeline.dragging)
                return
            var dx = mouse.x - timeline.lastDragX
            if (Math.abs(mouse.x - timeline.pressX) > timeline.dragThreshold)
                timeline.pressMoved = true
            timeline.lastDragX = mouse.x
            timeline.panBy(dx)
        }
        onReleased: timeline.dragging = false
        onClicked: function (mouse) {
            if (mouse.button === Qt.RightButton) {
                timeline.resetZoom()
                return
            }
            timeline.clickAt(mouse.x)
        }
        onDoubleClicked: function (mouse) {
            if (mouse.button !== Qt.LeftButton)
                return
            clickTimer.stop()
            var p = timeline.sortedPreviews
            if (p.length > 0)
                timeline.fitContentToTimeline(p[0].ms, p[p.length - 1].ms)
        }
        onWheel: function (wheel) {
            timeline.wheelZoom(wheel.x, wheel.angleDelta.y)
            wheel.accepted = true
        }
    }

    // Preview strip.
    Item {
        id: strip
        objectName: "previewStrip"
        x: 0
        y: timeline.stripY
        width: timeline.width
        height: timeline.imageWidth
        visible: timeline.stripShown
        clip: true
        // A fixed pool of slots: a slot whose picture stays the same is not reloaded.
        Repeater {
            model: timeline.slotPoolSize
            Image {
                required property int index
                readonly property var slot: index < timeline.visibleSlots.length ? timeline.visibleSlots[index] : null
                visible: slot !== null
                x: slot !== null ? timeline.msToX(slot.t) : 0
                y: 0
                width: timeline.imageWidth
                height: timeline.imageWidth
                fillMode: Image.PreserveAspectFit
                asynchronous: true
                sourceSize.width: timeline.imageWidth
                sourceSize.height: timeline.imageWidth
                source: slot !== null ? slot.url : ""
                opacity: status === Image.Ready ? 1 : 0
                Behavior on opacity { NumberAnimation { duration: 250 } }
            }
        }
    }

    // Flags live in a layer that carries the pan offset, so a pan moves one
    // item and a zoom re-places each flag once. Zoomed, the layer is wider
    // than the bar: it is clipped to the bar's width so that flags of hours
    // out of view are not drawn over the rest of the window.
    Item {
        id: flagClip
        objectName: "flagClip"
        x: 0
        y: 0
        width: timeline.width
        height: timeline.height
        clip: true

    Item {
        id: flagLayer
        x: timeline.timelineOffsetX
        y: 0
        width: timeline.width * timeline.zoomFactor
        height: timeline.height

        // Alarm flags.
        Repeater {
            model: timeline.alarmFlags
            Rectangle {
                id: alarmFlag
                required property var modelData
                objectName: "alarmFlag"
                x: modelData.ms * timeline.pxPerMs - 3
                y: timeline.flagsY
                width: 6
                height: 25
                color: "#f9EE00"
                MouseArea {
                    anchors.fill: parent
                    anchors.margins: -2
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onEntered: {
                        if (!timeline.popup || !timeline.controller)
                            return
                        var path = timeline.controller.get_alarm_thumbnail_path(alarmFlag.modelData.datetime)
                        var g = mapToGlobal(mouseX, mouseY)
                        timeline.popup.showAtGlobal(Math.round(g.x), Math.round(g.y), path, alarmFlag.modelData.datetime)
                    }
                    onExited: if (timeline.popup) timeline.popup.hidePopup()
                    onClicked: timeline.seekTo(alarmFlag.modelData.datetime)
                }
            }
        }

        // Tag flags, above the alarm flags.
        Repeater {
            model: timeline.markerFlags
            Rectangle {
                id: tagFlag
                required property var modelData
                objectName: "tagFlag"
                x: modelData.ms * timeline.pxPerMs - 3
                y: timeline.flagsY
                width: 6
                height: 25
                color: "#00FF00"
                MouseArea {
                    id: tagArea
                    anchors.fill: parent
                    anchors.margins: -2
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onEntered: bubbleTimer.restart()
                    onExited: {
                        bubbleTimer.stop()
                        bubble.visible = false
                    }
                    onClicked: timeline.seekTo(tagFlag.modelData.datetime)
                }
                Timer {
                    id: bubbleTimer
                    interval: 400
                    onTriggered: bubble.visible = true
                }
                Item {
                    id: bubble
                    objectName: "tagBubble"
                    visible: false
                    z: 10
                    x: 3 - width / 2
                    y: parent.height + 2
                    width: bubbleText.implicitWidth + 16
                    height: bubbleText.implicitHeight + 12 + 6
                    Canvas {
                        x: parent.width / 2 - 6
                        y: 0
                        width: 12
                        height: 6
                        onPaint: {
                            var ctx = getContext("2d")
                            ctx.fillStyle = "rgba(72, 72, 72, 0.7)"
                            ctx.beginPath()
                            ctx.moveTo(0, 6)
                            ctx.lineTo(6, 0)
                            ctx.lineTo(12, 6)
                            ctx.closePath()
                            ctx.fill()
                        }
                    }
                    Rectangle {
                        y: 6
                        width: parent.width
                        height: parent.height - 6
                        radius: 6
                        color: Qt.rgba(0.28, 0.28, 0.28, 0.7)
                        Text {
                            id: bubbleText
                            objectName: "tagBubbleText"
                            anchors.centerIn: parent
                            text: tagFlag.modelData.name + " - "
                                  + (tagFlag.modelData.description !== "" ? tagFlag.modelData.description : "Marqueur standard")
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: "white"
                        }
                    }
                }
            }
        }
    }

    }

    // Play cursor.
    Rectangle {
        id: cursor
        objectName: "playCursor"
        x: timeline.cursorX - 1
        y: timeline.cursorTop
        width: 3
        height: timeline.barY + timeline.barHeight + 10 - timeline.cursorTop
        color: "#21F3F3"
        visible: timeline.cursorShown
                 && timeline.cursorX >= timeline.timelineOffsetX
                 && timeline.cursorX <= timeline.timelineOffsetX + timeline.width * timeline.zoomFactor
    }

    // Time under the pointer.
    Rectangle {
        id: hoverLabel
        objectName: "hoverLabel"
        visible: area.containsMouse
        z: 20
        color: "#C0000000"
        radius: 3
        width: hoverText.implicitWidth + 8
        height: hoverText.implicitHeight + 2
        x: Math.max(0, Math.min(timeline.width - width, area.mouseX - width / 2))
        y: timeline.height - height
        Text {
            id: hoverText
            anchors.centerIn: parent
            text: TimeUtils.msToHms(timeline.xToMs(area.mouseX))
            font.pixelSize: 12
            color: "white"
        }
    }
}
