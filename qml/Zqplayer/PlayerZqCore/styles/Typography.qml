pragma Singleton
import QtQuick

QtObject {
    readonly property int small: 10
    readonly property int normal: 12
    readonly property int medium: 14
    readonly property int large: 16
    readonly property string family: "Sans Serif"
}
