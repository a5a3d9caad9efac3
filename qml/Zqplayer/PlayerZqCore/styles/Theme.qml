pragma Singleton
import QtQuick

QtObject {
    readonly property int radius: 10
    readonly property int spacing: 10
    readonly property int margin: 8
    readonly property int buttonSize: 40
    readonly property int tabSize: 48
}
