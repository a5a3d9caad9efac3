import QtQuick
import QtTest
import PlayerZqCore

// The month calendar: month list and buttons, grid, keys, empty list. Also
// run under time zones on both sides of Greenwich, where a day parsed as UTC
// would land on its neighbour.
TestCase {
    id: tc
    name: "CustomCalendar"
    width: 400
    height: 400
    visible: true
    when: windowShown

    Component {
        id: calendarComponent
        CustomCalendar { width: 280; height: 250 }
    }

    SignalSpy { id: selectedSpy; signalName: "dateSelected" }

    // All window tests share one X server without a window manager: another test's window may
    // take the activation, and with it the keyboard focus. Each key goes to the calendar once its
    // window is active and the calendar has the focus again.
    function press(c, key) {
        c.Window.window.requestActivate()
        c.forceActiveFocus()
        tryVerify(function() { return c.activeFocus }, 5000)
        keyClick(key)
    }

    function make(dates) {
        var c = createTemporaryObject(calendarComponent, tc)
        c.availableDates = dates
        selectedSpy.clear()
        selectedSpy.target = c
        return c
    }

    function test_inputForms_data() {
        return [
            { tag: "list", input: ["2025-03-04", "2025-05-10"] },
            { tag: "json text", input: '["2025-05-10","2025-03-04"]' },
            { tag: "separated text", input: "2025-05-10; 2025-03-04,2025-03-04 " },
            { tag: "compact digits", input: ["20250304", "20250510", "not a day", "2025-02-30"] }
        ]
    }
    function test_inputForms(data) {
        var c = make(data.input)
        compare(c.monthList, ["2025-03", "2025-05"])
        verify(c.availableSet["2025-03-04"])
        verify(c.availableSet["2025-05-10"])
        compare(Object.keys(c.availableSet).length, 2)
    }

    function test_monthButtonsSkipEmptyMonths() {
        var c = make(["2025-03-04", "2025-03-20", "2025-05-10"])
        // The shown month held no recorded day: the first listed month shows.
        compare(c.monthKey(c.currentMonth), "2025-03")
        verify(!c.canGoPrevious)
        verify(c.canGoNext)
        c.goNext()
        compare(c.monthKey(c.currentMonth), "2025-05")
        verify(c.canGoPrevious)
        verify(!c.canGoNext)
        c.goPrevious()
        compare(c.monthKey(c.currentMonth), "2025-03")
    }

    function test_gridOfMonth_data() {
        return [
            // fr_FR weeks start on Monday.
            { tag: "June 2025 starts on a Sunday", day: "2025-06-19", blanks: 6, days: 30, cells: 42 },
            { tag: "February 2021 fills four weeks", day: "2021-02-01", blanks: 0, days: 28, cells: 28 },
            { tag: "March 2025 starts on a Saturday", day: "2025-03-04", blanks: 5, days: 31, cells: 42 }
        ]
    }
    function test_gridOfMonth(data) {
        var c = make([data.day])
        compare(c.leadingBlanks, data.blanks)
        compare(c.daysInMonth, data.days)
        compare(c.cellCount, data.cells)
        var d = c.dateForCell(data.blanks)
        compare(d.getDate(), 1)
        compare(c.dateForCell(data.blanks - 1), null)
    }

    function test_headersAndTitle() {
        var c = make(["2025-06-19"])
        compare(c.dayHeader(0), "L")
        compare(c.dayHeader(6), "D")
        compare(c.title, "Juin 2025")
    }

    function test_clickEmitsLocalDay() {
        var c = make(["2025-06-19"])
        waitForRendering(c)
        var cell = findChild(c, "day19")
        verify(cell)
        mouseClick(cell)
        compare(selectedSpy.count, 1)
        var day = selectedSpy.signalArguments[0][0]
        compare(day.getFullYear(), 2025)
        compare(day.getMonth(), 5)
        compare(day.getDate(), 19)
        compare(c.formatDay(day), "2025-06-19")
        // A day without recording takes no click.
        mouseClick(findChild(c, "day20"))
        compare(selectedSpy.count, 1)
    }

    function test_parseDayIsLocal() {
        var c = make([])
        var d = c.parseDay("2025-03-30")
        compare(d.getDate(), 30)
        compare(d.getHours(), 0)
        compare(c.formatDay(d), "2025-03-30")
    }

    function test_keys() {
        var c = make(["2025-03-31", "2025-04-02", "2025-06-10"])
        c.selectDate(c.parseDay("2025-03-31"))
        c.forceActiveFocus()
        press(c, Qt.Key_Right)
        compare(c.formatDay(c.selectedDate), "2025-04-01")
        compare(c.monthKey(c.currentMonth), "2025-04")
        // The month change rebuilds the grid; on a loaded machine that may land after the key.
        waitForRendering(c)
        // 2025-04-29 + 7 lands in May, which holds nothing: no move.
        press(c, Qt.Key_Down)
        press(c, Qt.Key_Down)
        press(c, Qt.Key_Down)
        press(c, Qt.Key_Down)
        compare(c.formatDay(c.selectedDate), "2025-04-29")
        press(c, Qt.Key_Down)
        compare(c.formatDay(c.selectedDate), "2025-04-29")
        press(c, Qt.Key_Up)
        compare(c.formatDay(c.selectedDate), "2025-04-22")
        press(c, Qt.Key_Left)
        compare(c.formatDay(c.selectedDate), "2025-04-21")
        compare(selectedSpy.count, 0)
        // Return emits the selected day even when it holds no recording.
        press(c, Qt.Key_Return)
        compare(selectedSpy.count, 1)
        compare(c.formatDay(selectedSpy.signalArguments[0][0]), "2025-04-21")
        press(c, Qt.Key_Space)
        compare(selectedSpy.count, 2)
    }

    function test_keysWithoutSelection() {
        var c = make(["2025-03-31"])
        c.forceActiveFocus()
        press(c, Qt.Key_Right)
        press(c, Qt.Key_Return)
        compare(c.selectedDate, null)
        compare(selectedSpy.count, 0)
    }

    function test_emptyList() {
        var c = make(["2025-03-04"])
        c.availableDates = []
        compare(c.monthKey(c.currentMonth), "2025-03")
        verify(!c.canGoPrevious)
        verify(!c.canGoNext)
        for (var i = 0; i < c.cellCount; ++i)
            verify(!c.isAvailable(c.dateForCell(i)))
    }
}
