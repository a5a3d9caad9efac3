import QtQuick
import QtTest
import "qrc:/qml/Zqplayer/PlayerZqCore/TimeUtils.js" as TimeUtils

// Shared helpers: times of day and picture locations.
TestCase {
    name: "TimeUtils"

    function test_dateTimeToMs_data() {
        return [
            { tag: "morning", text: "20250619101530", ms: 36930000 },
            { tag: "midnight", text: "20250619000000", ms: 0 },
            { tag: "last second", text: "20250619235959", ms: 86399000 },
            { tag: "too short", text: "2025061910153", ms: -1 },
            { tag: "letters", text: "2025061910153a", ms: -1 },
            { tag: "hour 24", text: "20250619240000", ms: -1 },
            { tag: "no 30th of February", text: "20250230101530", ms: -1 },
            { tag: "empty", text: "", ms: -1 }
        ]
    }
    function test_dateTimeToMs(data) {
        compare(TimeUtils.dateTimeToMs(data.text), data.ms)
    }

    function test_parts() {
        compare(TimeUtils.datePart("20250619101530"), "2025-06-19")
        compare(TimeUtils.timePart("20250619101530"), "10:15:30")
        compare(TimeUtils.datePart("2025"), "Invalid")
        compare(TimeUtils.timePart("2025061910153000"), "Invalid")
    }

    function test_fileUrl_data() {
        return [
            { tag: "plain path", path: "/data/a.jpg", url: "file:///data/a.jpg" },
            { tag: "blank and hash", path: "/data/x y/#1.jpg", url: "file:///data/x%20y/%231.jpg" },
            { tag: "accent", path: "/data/Entrée.jpg", url: "file:///data/Entr%C3%A9e.jpg" },
            { tag: "windows drive", path: "D:\\zq\\a.jpg", url: "file:///D:/zq/a.jpg" },
            { tag: "already an url", path: "file:///data/a.jpg", url: "file:///data/a.jpg" },
            { tag: "empty", path: "", url: "" }
        ]
    }
    function test_fileUrl(data) {
        compare(TimeUtils.fileUrl(data.path), data.url)
    }

    function test_msToHms() {
        compare(TimeUtils.msToHms(0), "00:00:00")
        compare(TimeUtils.msToHms(86399999), "23:59:59")
        compare(TimeUtils.msToHms(-1000), "23:59:59")
        compare(TimeUtils.msToHm(36930000), "10:15")
    }
}
