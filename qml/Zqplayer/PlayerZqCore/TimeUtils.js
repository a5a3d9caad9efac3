.pragma library

// Shared helpers of the player pages: times of the day in milliseconds and
// picture locations.

var dayMs = 86400000

function pad2(n) {
    return (n < 10 ? "0" : "") + n
}

// Milliseconds since midnight to "HH:mm:ss" (reduced modulo a day, hours capped at 23).
function msToHms(ms) {
    var v = Math.floor(Number(ms))
    if (!isFinite(v))
        v = 0
    v = ((v % dayMs) + dayMs) % dayMs
    var h = Math.min(23, Math.floor(v / 3600000))
    var m = Math.floor(v / 60000) % 60
    var s = Math.floor(v / 1000) % 60
    return pad2(h) + ":" + pad2(m) + ":" + pad2(s)
}

function msToHm(ms) {
    return msToHms(ms).substring(0, 5)
}

// True for a "yyyyMMddHHmmss" text whose date and time are real.
function isValidDateTime(text) {
    var t = String(text)
    if (!/^[0-9]{14}$/.test(t))
        return false
    var y = parseInt(t.substring(0, 4), 10)
    var mo = parseInt(t.substring(4, 6), 10)
    var d = parseInt(t.substring(6, 8), 10)
    var h = parseInt(t.substring(8, 10), 10)
    var mi = parseInt(t.substring(10, 12), 10)
    var s = parseInt(t.substring(12, 14), 10)
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
        return false
    var date = new Date(y, mo - 1, d)
    return date.getFullYear() === y && date.getMonth() === mo - 1 && date.getDate() === d
}

// Time of day of a "yyyyMMddHHmmss" text in milliseconds, or -1 when the text
// is not such a date-time.
function dateTimeToMs(text) {
    if (!isValidDateTime(text))
        return -1
    var t = String(text)
    return parseInt(t.substring(8, 10), 10) * 3600000
         + parseInt(t.substring(10, 12), 10) * 60000
         + parseInt(t.substring(12, 14), 10) * 1000
}

function datePart(text) {
    var t = String(text)
    if (t.length !== 14)
        return "Invalid"
    return t.substring(0, 4) + "-" + t.substring(4, 6) + "-" + t.substring(6, 8)
}

function timePart(text) {
    var t = String(text)
    if (t.length !== 14)
        return "Invalid"
    return t.substring(8, 10) + ":" + t.substring(10, 12) + ":" + t.substring(12, 14)
}

// A local path (or an URL already) to a file URL that Image can load.
function fileUrl(path) {
    if (path === undefined || path === null)
        return ""
    var p = String(path)
    if (p.length === 0)
        return ""
    if (/^(file|qrc):/i.test(p))
        return p
    p = p.replace(/\\/g, "/")
    var drive = ""
    var m = /^([A-Za-z]:)(\/.*)?$/.exec(p)
    if (m) {
        drive = "/" + m[1]
        p = m[2] || "/"
    }
    var encoded = p.split("/").map(function (part) { return encodeURIComponent(part) }).join("/")
    return "file://" + drive + encoded
}
