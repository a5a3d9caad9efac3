#include "export/export_format.h"

#include "export/export_dialogs.h"

#include <iterator>

namespace {

const QList<export_format> kFormats = {
    {QStringLiteral("H.264"), QStringLiteral("libx264"), QStringLiteral(".mp4"), QStringLiteral("H264")},
    {QStringLiteral("H.265"), QStringLiteral("hevc"), QStringLiteral(".mp4"), QStringLiteral("H265")},
    {QStringLiteral("MJPEG"), QStringLiteral("mjpeg"), QStringLiteral(".avi"), QStringLiteral("MJPEG")},
    {QStringLiteral("VP9"), QStringLiteral("vp9"), QStringLiteral(".webm"), QStringLiteral("VP9")},
    {QStringLiteral("AV1"), QStringLiteral("av1"), QStringLiteral(".mkv"), QStringLiteral("AV1")},
    {QStringLiteral("RAW"), QStringLiteral("raw"), QStringLiteral(".zqcore"), QStringLiteral("RAW")},
};

// Index i holds the sentence of code -(i + 1).
const char* const kErrorTexts[] = {
    "Heure de début d'exportation introuvable.",
    "Heure de fin d'exportation introuvable.",
    "Erreur à l'initialisation de l'export.",
    "Erreur de format du fichier d'export.",
    "Erreur d'initialisation de l'encodeur. #1",
    "Erreur d'initialisation de l'encodeur. #2",
    "Erreur d'initialisation de l'encodeur. #3",
    "Erreur d'initialisation de l'encodeur. #4",
    "Le fichier d'export n'a pas pu être ouvert.",
    "L'intervalle selectionnée ne contient pas de vidéo.",
    "Erreur lors du parsing des données.",
    "Erreur réseau.",
    "Période invalide.",
    "Erreur de récupération des données vidéos.",
    "REMUX : Erreur sur l'ouverture des données d'entrées.",
    "REMUX : Echec de récupération des informations de flux.",
    "REMUX : Echec de création du contexte de sortie.",
    "REMUX : Echec de création du flux de sortie.",
    "REMUX : Echec de copie des paramêtres",
    "REMUX : Error lors de l'ouverture du fichier de sortie.",
    "REMUX : Echec d'écriture de l'en-tete de sortie.",
    "Erreur d'archivage du fichier descripteur.",
    "Erreur d'archivage du fichier vidéo.",
    "Erreur de suppression du fichier descripteur après archivage.",
    "Erreur de suppression du fichier vidéo après archivage.",
    "Fichier descripteur manquant.",
    "Fichier vidéo manquant.",
    "Echec de création de l'archive.",
    "Archive déjà existante.",
    "Erreur sur le décodage des données du fichier.",
    "Erreur sur l'ouverture du fichier.",
    "Echec de vérification d'intégrité de l'archive.",
    "Echec d'ouverture du fichier.",
    "Arrêt de l'utilisateur.",
};
// Codes -34 to -1: the job rows and the dialogs show these sentences, other values are unknown.
static_assert(std::size(kErrorTexts) == 34);

} // namespace

const QList<export_format>& export_formats()
{
    return kFormats;
}

const QStringList& export_format_tags()
{
    static const QStringList tags = [] {
        QStringList t;
        for (const export_format& f : kFormats)
            t << f.tag;
        return t;
    }();
    return tags;
}

export_format find_export_format(const QString& text)
{
    for (const export_format& f : kFormats) {
        if (text.contains(f.label, Qt::CaseInsensitive))
            return f;
    }
    return kFormats.first();
}

export_error::export_error(QWidget* boxParent)
    : QObject(nullptr)
    , m_boxParent(boxParent)
{
}

QString export_error::error_text(int code)
{
    constexpr int count = int(sizeof(kErrorTexts) / sizeof(kErrorTexts[0]));
    if (code < -count || code > -1)
        return QStringLiteral("Erreur inconnue.");
    return QString::fromUtf8(kErrorTexts[-code - 1]);
}

void export_error::error_parse(int code)
{
    ExportDialogs::instance()->information(m_boxParent, QStringLiteral("Erreur de paramétrage"),
                                                error_text(code));
}
