import QtQuick

// Month calendar of the recorded days. Days are local dates built from their
// year, month and day numbers (never parsed from "yyyy-MM-dd" text, which
// JavaScript reads as UTC midnight and shifts a day west of Greenwich).
Rectangle {
    id: calendar

    property date currentMonth: firstOfMonth(new Date())
    property var selectedDate: null
    property var availableDates: []
    property bool compact: true
    property string localeName: "fr_FR"

    signal dateSelected(var date)

    // Derived from availableDates.
    property var availableSet: ({})
    property var monthList: []

    readonly property int cellSize: compact ? 28 : 40
    readonly property int cellSpacing: 4
    readonly property var locale: Qt.locale(localeName)
    readonly property int firstDayOfWeek: locale.firstDayOfWeek
    readonly property int shownMonthIndex: monthList.indexOf(monthKey(currentMonth))
    readonly property bool canGoPrevious: shownMonthIndex > 0
    readonly property bool canGoNext: shownMonthIndex >= 0 && shownMonthIndex < monthList.length - 1
    readonly property int leadingBlanks: (currentMonth.getDay() - firstDayOfWeek + 7) % 7
    readonly property int daysInMonth: new Date(currentMonth.getFullYear(), currentMonth.getMonth() + 1, 0).getDate()
    readonly property int cellCount: Math.ceil((leadingBlanks + daysInMonth) / 7) * 7
    readonly property string title: monthTitle(currentMonth)

    implicitWidth: 280
    implicitHeight: 220
    color: "#121212"
    radius: 10
    focus: true

    function pad2(n) { return (n < 10 ? "0" : "") + n }
    function firstOfMonth(d) { return new Date(d.getFullYear(), d.getMonth(), 1) }
    function formatDay(d) { return d.getFullYear() + "-" + pad2(d.getMonth() + 1) + "-" + pad2(d.getDate()) }
    function monthKey(d) { return d.getFullYear() + "-" + pad2(d.getMonth() + 1) }

    // "yyyy-MM-dd" (or "yyyyMMdd") text to a local date; null when not a real day.
    function parseDay(text) {
        var m = /^\s*(\d{4})-?(\d{2})-?(\d{2})/.exec(String(text))
        if (!m)
            return null
        var y = parseInt(m[1], 10), mo = parseInt(m[2], 10), d = parseInt(m[3], 10)
        var date = new Date(y, mo - 1, d)
        if (date.getFullYear() !== y || date.getMonth() !== mo - 1 || date.getDate() !== d)
            return null
        return date
    }

    // Any accepted form (list, Set, JSON array text, separated text) to a
    // sorted list of unique "yyyy-MM-dd" days.
    function normalizeDates(input) {
        var raw = []
        if (input === undefined || input === null) {
            raw = []
        } else if (typeof input === "string") {
            var text = input.trim()
            if (text.length > 0 && text.charAt(0) === "[") {
                try { raw = JSON.parse(text) } catch (e) { console.warn("[CustomCalendar] invalid date list", text); raw = [] }
            } else if (text.length > 0) {
                raw = text.split(/[\s,;]+/)
            }
        } else if (typeof Set !== "undefined" && input instanceof Set) {
            input.forEach(function (v) { raw.push(v) })
        } else if (input instanceof Date) {
            raw = [input]
        } else if (input.length !== undefined) {
            for (var i = 0; i < input.length; ++i)
                raw.push(input[i])
        }
        var seen = {}
        var out = []
        for (var j = 0; j < raw.length; ++j) {
            var v = raw[j]
            var d = (v instanceof Date) ? (isNaN(v.getTime()) ? null : new Date(v.getFullYear(), v.getMonth(), v.getDate()))
                                        : parseDay(v)
            if (!d)
                continue
            var key = formatDay(d)
            if (!seen[key]) {
                seen[key] = true
                out.push(key)
            }
        }
        out.sort()
        return out
    }

    function rebuild() {
        var days = normalizeDates(availableDates)
        var set = {}
        var months = []
        for (var i = 0; i < days.length; ++i) {
            set[days[i]] = true
            var mk = days[i].substring(0, 7)
            if (months.length === 0 || months[months.length - 1] !== mk)
                months.push(mk)
        }
        availableSet = set
        monthList = months
        if (months.length > 0 && months.indexOf(monthKey(currentMonth)) < 0)
            currentMonth = parseDay(months[0] + "-01")
    }

    function isAvailable(d) { return d !== null && availableSet[formatDay(d)] === true }
    function isSelected(d) {
        return d !== null && selectedDate !== null && selectedDate !== undefined
            && formatDay(d) === formatDay(selectedDate)
    }

    function monthTitle(d) {
        var text = d.toLocaleDateString(locale, "MMMM yyyy")
        return text.replace(/(^|\s)(\S)/g, function (all, sp, ch) { return sp + ch.toUpperCase() })
    }

    function dayHeader(column) {
        var day = (firstDayOfWeek + column) % 7
        return locale.dayName(day, Locale.NarrowFormat).toUpperCase()
    }

    function dateForCell(index) {
        var day = index - leadingBlanks + 1
        if (day < 1 || day > daysInMonth)
            return null
        return new Date(currentMonth.getFullYear(), currentMonth.getMonth(), day)
    }

    function showMonth(d) { currentMonth = firstOfMonth(d) }

    function selectDate(d) {
        if (d === null || d === undefined) {
            selectedDate = null
            return
        }
        selectedDate = new Date(d.getFullYear(), d.getMonth(), d.getDate())
    }

    function goPrevious() {
        if (canGoPrevious)
            currentMonth = parseDay(monthList[shownMonthIndex - 1] + "-01")
    }
    function goNext() {
        if (canGoNext)
            currentMonth = parseDay(monthList[shownMonthIndex + 1] + "-01")
    }

    // Moves the selection by a number of days when the target's month holds
    // recordings; the target day itself need not be recorded.
    function moveSelection(days) {
        if (selectedDate === null || selectedDate === undefined)
            return false
        var t = new Date(selectedDate.getFullYear(), selectedDate.getMonth(), selectedDate.getDate() + days)
        if (monthList.indexOf(monthKey(t)) < 0)
            return false
        selectedDate = t
        currentMonth = firstOfMonth(t)
        return true
    }

    function clickDay(d) {
        if (!isAvailable(d))
            return
        selectDate(d)
        calendar.forceActiveFocus()
        dateSelected(selectedDate)
    }

    onAvailableDatesChanged: rebuild()
    Component.onCompleted: rebuild()

    Keys.onPressed: function (event) {
        if (selectedDate === null || selectedDate === undefined)
            return
        switch (event.key) {
        case Qt.Key_Left: moveSelection(-1); event.accepted = true; break
        case Qt.Key_Right: moveSelection(1); event.accepted = true; break
        case Qt.Key_Up: moveSelection(-7); event.accepted = true; break
        case Qt.Key_Down: moveSelection(7); event.accepted = true; break
        case Qt.Key_Return:
        case Qt.Key_Enter:
        case Qt.Key_Space:
            dateSelected(selectedDate)
            event.accepted = true
            break
        }
    }

    Column {
        id: layout
        anchors.fill: parent
        anchors.margins: 8
        spacing: 6

        Item {
            width: parent.width
            height: calendar.compact ? 24 : 32

            Text {
                id: prevButton
                objectName: "previousMonth"
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                width: 24
                horizontalAlignment: Text.AlignHCenter
                text: "‹"
                font.pixelSize: 18
                color: calendar.canGoPrevious ? "white" : "#555555"
                MouseArea {
                    anchors.fill: parent
                    enabled: calendar.canGoPrevious
                    onClicked: calendar.goPrevious()
                }
            }
            Text {
                objectName: "monthTitle"
                anchors.centerIn: parent
                text: calendar.title
                textFormat: Text.PlainText
                font.pixelSize: calendar.compact ? 14 : 18
                font.bold: true
                color: (calendar.canGoPrevious || calendar.canGoNext) ? "white" : "#9e9e9e"
            }
            Text {
                id: nextButton
                objectName: "nextMonth"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
                width: 24
                horizontalAlignment: Text.AlignHCenter
                text: "›"
                font.pixelSize: 18
                color: calendar.canGoNext ? "white" : "#555555"
                MouseArea {
                    anchors.fill: parent
                    enabled: calendar.canGoNext
                    onClicked: calendar.goNext()
                }
            }
        }

        Grid {
            id: headerRow
            anchors.horizontalCenter: parent.horizontalCenter
            columns: 7
            columnSpacing: calendar.cellSpacing
            Repeater {
                model: 7
                Text {
                    required property int index
                    width: calendar.cellSize
                    horizontalAlignment: Text.AlignHCenter
                    text: calendar.dayHeader(index)
                    textFormat: Text.PlainText
                    font.pixelSize: calendar.compact ? 10 : 12
                    color: "#9e9e9e"
                }
            }
        }

        Grid {
            id: dayGrid
            objectName: "dayGrid"
            anchors.horizontalCenter: parent.horizontalCenter
            columns: 7
            columnSpacing: calendar.cellSpacing
            rowSpacing: calendar.cellSpacing
            Repeater {
                model: calendar.cellCount
                Rectangle {
                    id: cell
                    required property int index
                    readonly property var day: calendar.dateForCell(index)
                    readonly property bool available: calendar.isAvailable(day)
                    readonly property bool selected: calendar.isSelected(day)
                    objectName: day !== null ? "day" + day.getDate() : ""
                    width: calendar.cellSize
                    height: calendar.cellSize
                    radius: 6
                    // Blank cells stay in the grid (an invisible item would be skipped by it).
                    opacity: day !== null ? 1 : 0
                    color: selected ? "#2196F3" : (available && cellArea.containsMouse ? "#3A3A3A" : "transparent")
                    border.width: available && !selected ? 1 : 0
                    border.color: "#5A5A5A"
                    Text {
                        anchors.centerIn: parent
                        text: cell.day !== null ? cell.day.getDate() : ""
                        font.pixelSize: calendar.compact ? 12 : 14
                        font.bold: cell.selected
                        color: cell.available || cell.selected ? "white" : "#8a8a8a"
                    }
                    MouseArea {
                        id: cellArea
                        anchors.fill: parent
                        hoverEnabled: true
                        enabled: cell.available
                        onClicked: calendar.clickDay(cell.day)
                    }
                }
            }
        }
    }
}
