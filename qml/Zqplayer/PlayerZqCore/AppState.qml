pragma Singleton
import QtQuick

// What the pages share: the storage folder last chosen and the day lists
// last read by the home page.
QtObject {
    property string currentFolder: ""
    property var currentVideos: []
    property var currentAlarms: []
    property var currentMarkers: []
    property string currentVideo: ""
    property int calculatedPosition: 0
}
