pragma Singleton
import QtQuick

QtObject {
    readonly property color background: "#1E1E1E"
    readonly property color panel: "#121212"
    readonly property color surface: "#2C2C2C"
    readonly property color border: "#D9D9D9"
    readonly property color text: "#FFFFFF"
    readonly property color textMuted: "#9e9e9e"
    readonly property color accent: "#2196F3"
    readonly property color recording: "#B81414"
    readonly property color alarm: "#f9EE00"
    readonly property color marker: "#00FF00"
    readonly property color cursor: "#21F3F3"
    readonly property color error: "#FF4444"
}
