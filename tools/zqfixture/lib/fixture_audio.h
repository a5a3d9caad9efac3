#pragma once

// Audio companions of a recording: "<base>.zqaudio" (coded frames end to end)
// and "<base>.zqaudioseek" (one line per entry,
// "yyyyMMddHHmmsszzz:audio1:frame/aac:<size>" or "frame/mp3"), coded with
// libavcodec: AAC-LC in ADTS framing, or MP3 through libmp3lame.
//
// Each second of the day is a sine tone whose frequency names it
// (tone_frequency), so a test that hears the sound can tell which second plays.

#include <QDate>
#include <QList>
#include <QString>

namespace ZQFixture {

enum class AudioCodec { None, AAC, MP3 };

struct AudioEntry {
    qint64 time_ms = 0; // time of day of its first sample
    qint64 offset = 0;  // in the ".zqaudio" file
    int size = 0;
    int samples = 0;    // samples per channel it codes
};

struct AudioOptions {
    AudioCodec codec = AudioCodec::None;
    int rate = 16000;     // 8000, 16000, 48000
    int channels = 1;     // 1, 2
    int entry_ms = 1000;  // one seek line per about this many ms; 0: one per coded frame
};

// Frequency in Hz of the tone played during the second of day `second`:
// 300 Hz plus 50 Hz per second of the minute (300 .. 3250 Hz, under the
// Nyquist limit of 8000 Hz sampling).
double tone_frequency(qint64 second_of_day);
// Peak amplitude of the tone, as a share of full scale.
constexpr double tone_amplitude = 0.4;

// Frequency (Hz, from zero crossings) and peak level (share of full scale)
// of the first channel of interleaved signed 16-bit samples.
struct ToneMeasure {
    double frequency = 0.0;
    double peak = 0.0;
};
ToneMeasure measure_tone(const qint16* interleaved, qsizetype frames, int channels, int rate);
// The second of day whose tone is nearest to `frequency`, within 20 Hz
// (a second of the minute, 0..59), or -1.
int tone_second(double frequency);

QString audio_codec_word(AudioCodec codec); // "aac", "mp3"
bool parse_audio_codec(const QString& word, AudioCodec* codec);

// Codes `seconds` of tone from `start_ms` (time of day) and writes the two
// files at base + ".zqaudio" / ".zqaudioseek". Entries are appended to `entries`.
bool write_audio(const AudioOptions& options, const QString& base, const QDate& date, qint64 start_ms,
                 int seconds, QList<AudioEntry>* entries, QString* error);

} // namespace ZQFixture
