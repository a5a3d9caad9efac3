pragma Singleton
import QtQuick

// Sample data for working on the pages without a storage folder. The live
// pages never read it; creating it empties the shared day lists so that no
// stale data is shown beside the samples.
QtObject {
    id: mock

    property var days: ["2025-06-17", "2025-06-18", "2025-06-19"]
    property var cameras: ["Entrée Nord", "Parking", "Quai 3"]
    property var videos: {
        var list = []
        for (var m = 8 * 60; m < 12 * 60; ++m)
            list.push(m * 60000)
        return list
    }
    property var alarms: [
        { "datetime": "20250619091625", "image": "", "thumbnail": "", "type": "motion", "severity": "1", "cameraId": "1" },
        { "datetime": "20250619103000", "image": "", "thumbnail": "", "type": "line", "severity": "2", "cameraId": "1" }
    ]
    property var markers: [
        { "tag_datetime": "20250619094500", "tag_name": "Livraison", "tag_description": "" }
    ]

    Component.onCompleted: {
        AppState.currentVideos = []
        AppState.currentAlarms = []
        AppState.currentMarkers = []
    }
}
