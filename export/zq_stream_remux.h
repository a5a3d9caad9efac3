#pragma once

#include <QObject>
#include <QString>

// Puts an already coded elementary stream (a local file of raw coded frames; locations on a
// server are refused) into the container the output path's extension names, without
// re-encoding: packets get fresh, evenly spaced timestamps at the given frame rate. On success the
// output is renamed to its final path and the input deleted.
class ZQStreamRemux : public QObject
{
    Q_OBJECT
public:
    ZQStreamRemux();
    ~ZQStreamRemux() override;

    // 0 on success; 1 on a failure while reading, writing or renaming (the input is kept, and a
    // file that was at the final path before stays as it was: the output replaces it in one
    // rename); -15 to -21 for the set-up failures (export error codes).
    // Blanks of the final path's file name become "_"; "&zqmultipart=1" is removed from the input.
    // A frame rate that is not finite or not above 0 is refused (-15), as is an input that yields
    // no packet (1).
    int remux_url(QString input, QString output_path, QString final_path, double fps);

    // The final path as the remuxer writes it: blanks of the file name replaced by "_".
    static QString final_path_for(const QString& final_path);
};
