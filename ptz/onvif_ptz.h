#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// One preset of the camera: its token and its name. Held by value.
class Onvif_preset_token
{
public:
    Onvif_preset_token() = default;
    Onvif_preset_token(QString token, QString name) : token(std::move(token)), name(std::move(name)) {}

    QString token;
    QString name;
};

// What the discovery chain learnt of the camera's PTZ node: the ranges of its
// spaces, its position, its profile and node tokens and its presets.
class Onvif_ptz : public QObject
{
    Q_OBJECT

public:
    struct Range
    {
        float min = -1.f;
        float max = 1.f;
    };

    // Presets kept at most: a hostile reply cannot grow the list further.
    static constexpr int max_presets = 1000;
    // Tokens kept at most per list.
    static constexpr int max_tokens = 1000;

    using QObject::QObject;

    // "min;max". Fewer than two parts, or a non-finite number, leave the
    // range unchanged; a part that is not a number reads as 0.
    void set_continuous_pan_range(const QString& t) { set_range(continuous_pan, t); }
    void set_continuous_tilt_range(const QString& t) { set_range(continuous_tilt, t); }
    void set_continuous_zoom_range(const QString& t) { set_range(continuous_zoom, t); }
    void set_relative_pan_range(const QString& t) { set_range(relative_pan, t); }
    void set_relative_tilt_range(const QString& t) { set_range(relative_tilt, t); }
    void set_relative_zoom_range(const QString& t) { set_range(relative_zoom, t); }
    void set_absolute_pan_range(const QString& t) { set_range(absolute_pan, t); }
    void set_absolute_tilt_range(const QString& t) { set_range(absolute_tilt, t); }
    void set_absolute_zoom_range(const QString& t) { set_range(absolute_zoom, t); }

    Range get_continuous_pan_range() const { return continuous_pan; }
    Range get_continuous_tilt_range() const { return continuous_tilt; }
    Range get_continuous_zoom_range() const { return continuous_zoom; }
    Range get_relative_pan_range() const { return relative_pan; }
    Range get_relative_tilt_range() const { return relative_tilt; }
    Range get_relative_zoom_range() const { return relative_zoom; }
    Range get_absolute_pan_range() const { return absolute_pan; }
    Range get_absolute_tilt_range() const { return absolute_tilt; }
    Range get_absolute_zoom_range() const { return absolute_zoom; }

    // Position texts; non-finite or non-numeric texts leave 0 / the value.
    void set_pan(const QString& t) { set_position(pan, t); }
    void set_tilt(const QString& t) { set_position(tilt, t); }
    void set_zoom(const QString& t) { set_position(zoom, t); }
    float get_pan() const { return pan; }
    float get_tilt() const { return tilt; }
    float get_zoom() const { return zoom; }

    void set_pending1(bool v) { pending1 = v; }
    void set_pending2(bool v) { pending2 = v; }
    void set_pending3(bool v) { pending3 = v; }
    bool get_pending1() const { return pending1; }
    bool get_pending2() const { return pending2; }
    bool get_pending3() const { return pending3; }
    void set_continuous_supported(bool v) { continuous_supported = v; }
    void set_relative_zoom_supported(bool v) { relative_zoom_supported = v; }
    void set_absolute_supported(bool v) { absolute_supported = v; }
    // Set by the node's relative pan-tilt space, which relative moves need.
    void set_relative_supported(bool v) { relative_supported = v; }
    bool is_continuous_supported() const { return continuous_supported; }
    bool is_relative_zoom_supported() const { return relative_zoom_supported; }
    bool is_absolute_supported() const { return absolute_supported; }
    bool is_relative_supported() const { return relative_supported; }

    void append_profile_token(const QString& t)
    {
        if (profile_tokens.size() < max_tokens)
            profile_tokens.append(t);
    }
    void append_node_token(const QString& t)
    {
        if (node_tokens.size() < max_tokens)
            node_tokens.append(t);
    }
    // False once the cap is reached.
    bool append_preset(const Onvif_preset_token& p)
    {
        if (presets.size() >= max_presets)
            return false;
        presets.append(p);
        return true;
    }
    QStringList get_profile_tokens() const { return profile_tokens; }
    QStringList get_node_tokens() const { return node_tokens; }
    QList<Onvif_preset_token> get_presets() const { return presets; }

private:
    static void set_range(Range& r, const QString& text);
    static void set_position(float& v, const QString& text);

    Range continuous_pan, continuous_tilt, continuous_zoom;
    Range relative_pan, relative_tilt, relative_zoom;
    Range absolute_pan, absolute_tilt, absolute_zoom;
    float pan = 0.f, tilt = 0.f, zoom = 0.f;
    bool pending1 = false, pending2 = false, pending3 = false;
    bool continuous_supported = false, relative_zoom_supported = false, absolute_supported = false;
    bool relative_supported = false;
    QStringList profile_tokens;
    QStringList node_tokens;
    QList<Onvif_preset_token> presets;
};
