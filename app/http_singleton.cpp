#include "app/http_singleton.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QSysInfo>

namespace {
const char kSharedSecret[] = "Tea#Biscuit!";
}

Http_singleton::Http_singleton() = default;

Http_singleton* Http_singleton::instance()
{
    // Thread-safe initialisation on first use; kept until the process ends.
    static Http_singleton* const context = new Http_singleton();
    return context;
}

QString Http_singleton::get_display_name() const
{
    return QStringLiteral("ZQPLAYER").replace(QStringLiteral("__"), QStringLiteral(" "));
}

QString Http_singleton::get_app_name() const { return QStringLiteral("ZQPlayer"); }
QString Http_singleton::get_version() const { return QStringLiteral("3.4.1"); }
QString Http_singleton::get_build_date() const { return QStringLiteral("20170207"); }
QString Http_singleton::get_log_file_name() const { return QStringLiteral("zqlogfile.log"); }

QString Http_singleton::get_apps_url() const
{
    // The release server is configuration: the build sets a default, the
    // environment overrides it, and empty means "not configured".
    const QByteArray env = qgetenv("ZQPLAYER_RELEASE_BASE_URL");
    if (!env.isEmpty())
        return QString::fromUtf8(env);
    return QStringLiteral(ZQPLAYER_RELEASE_BASE_URL_DEFAULT);
}

QString Http_singleton::get_crash_report_url() const
{
    const QByteArray env = qgetenv("ZQPLAYER_CRASH_REPORT_URL");
    if (!env.isEmpty())
        return QString::fromUtf8(env);
    return QStringLiteral(ZQPLAYER_CRASH_REPORT_URL_DEFAULT);
}

QString Http_singleton::os_description()
{
    return QStringLiteral("OS ") + QSysInfo::productType() + QStringLiteral("_") + QSysInfo::kernelVersion()
           + QStringLiteral("_") + QSysInfo::currentCpuArchitecture();
}

bool Http_singleton::is_dev_build() const { return false; }

bool Http_singleton::build_flag() const
{
    return QStringLiteral("0") == QStringLiteral("1");
}

QString Http_singleton::user_folder() const
{
    return QDir::home().filePath(QStringLiteral(".") + get_app_name());
}

int Http_singleton::get_display_count() const { return m_display_count; }
void Http_singleton::set_display_count(int count) { m_display_count = count < 0 ? 0 : count; }
int Http_singleton::get_max_display_count() const { return m_max_display_count; }

QString Http_singleton::get_log_directory() const { return m_log_directory; }
bool Http_singleton::is_embedded_mode() const { return m_log_directory_switch; }
bool Http_singleton::crash_check_flag() const { return m_crash_check_switch; }
void Http_singleton::set_update_ok(bool ok) { m_update_ok = ok; }
bool Http_singleton::get_update_ok() const { return m_update_ok; }

QString Http_singleton::sha256_hex(const QString& text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString Http_singleton::access_user_agent(const QString& key, bool useKey) const
{
    const QString accessTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    return access_user_agent_at(accessTime, key, useKey);
}

QString Http_singleton::access_user_agent_at(const QString& accessTime, const QString& key, bool useKey) const
{
    const QString displayName = get_display_name();
    QString text;
    if (displayName != QLatin1String("ZQCORE ACCESS"))
        text = displayName + QStringLiteral("/ZQCORE-ACCESS-") + get_version();
    else
        text = QStringLiteral("ZQCORE-ACCESS-") + get_version();

    QString extraKey;
    if (useKey && !key.isEmpty())
        extraKey = key;
    else if (useKey && !m_fallback_access_key.isEmpty())
        extraKey = m_fallback_access_key;

    const QString accessKey = sha256_hex(QStringLiteral("ZQCORE-ACCESS") + accessTime + m_nonce
                                         + QLatin1String(kSharedSecret) + extraKey);

    text += QStringLiteral(" (");
    text += os_description() + QStringLiteral("; ");
    text += QStringLiteral("access_time ") + accessTime + QStringLiteral("; ");
    text += QStringLiteral("nonce ") + m_nonce + QStringLiteral("; ");
    text += QStringLiteral("access_key ") + accessKey;
    text += QStringLiteral(")");
    return text;
}
