#include "recordings/encrypt.h"

#include "app/zq_log.h"
#include "recordings/storage_layout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>

namespace {

// The recording server's key and vector texts: every metadata file it writes is encrypted with
// these, so they must not change.
constexpr char kKeyText[] = "5f0e9d8c7b6a5948372615f4e3d2c1b0a9f8e7d6c5b4a39281706f5e4d3c2b1a";
constexpr char kIvText[] = "0c1d2e3f4a5b6c7d8e9fa0b1c2d3e4f5";
static_assert(sizeof(kKeyText) == 65, "key text holds 64 hexadecimal characters");
static_assert(sizeof(kIvText) == 33, "vector text holds 32 hexadecimal characters");

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool decode_hex(const char* text, int bytes, unsigned char* out)
{
    for (int i = 0; i < bytes; ++i) {
        const int hi = hex_digit(text[2 * i]);
        const int lo = hex_digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    return true;
}

bool plain_is_expected(const unsigned char* data, int length, Encrypt::Expect expect)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), length), &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    switch (expect) {
    case Encrypt::Expect::JsonObject:
        return doc.isObject();
    case Encrypt::Expect::JsonArray:
        return doc.isArray();
    case Encrypt::Expect::JsonDocument:
        return doc.isObject() || doc.isArray();
    }
    return false;
}

struct Buffer
{
    unsigned char* data = nullptr;
    size_t size = 0;
    ~Buffer()
    {
        if (data) {
            OPENSSL_cleanse(data, size);
            std::free(data);
        }
    }
};

} // namespace

const char* Encrypt::key_text()
{
    return kKeyText;
}

const char* Encrypt::iv_text()
{
    return kIvText;
}

void Encrypt::text_key_bytes(unsigned char* key, unsigned char* iv)
{
    std::memcpy(key, kKeyText, kKeySize);
    std::memcpy(iv, kIvText, kIvSize);
}

bool Encrypt::hex_to_bytes(unsigned char* key, unsigned char* iv)
{
    return decode_hex(kKeyText, kKeySize, key) && decode_hex(kIvText, kIvSize, iv);
}

namespace {

// One AES-256-CBC pass (PKCS#7) on a fresh context: the output length, or -1.
int run_cipher(bool encrypt, const unsigned char* in, int length, const unsigned char* key, const unsigned char* iv,
               unsigned char* out)
{
    if (!in || !out || length < 0)
        return -1;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        return -1;
    const int enc = encrypt ? 1 : 0;
    int updateLength = 0;
    int finalLength = 0;
    int result = -1;
    if (EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv, enc) == 1
        && EVP_CipherUpdate(ctx, out, &updateLength, in, length) == 1
        && EVP_CipherFinal_ex(ctx, out + updateLength, &finalLength) == 1) {
        result = updateLength + finalLength;
    }
    EVP_CIPHER_CTX_free(ctx);
    return result;
}

} // namespace

int Encrypt::decrypt_with_key(const unsigned char* in, int length, const unsigned char* key,
                              const unsigned char* iv, unsigned char* out)
{
    return run_cipher(false, in, length, key, iv, out);
}

int Encrypt::encrypt_with_key(const unsigned char* in, int length, const unsigned char* key,
                              const unsigned char* iv, unsigned char* out)
{
    return run_cipher(true, in, length, key, iv, out);
}

std::string Encrypt::decrypt_file(const QString& path, Expect expect, qint64 maxSize)
{
    return decrypt_file(QFile::encodeName(path).constData(), expect, maxSize);
}

std::string Encrypt::decrypt_file(const char* path, Expect expect, qint64 maxSize)
{
    char* input = nullptr;
    const int length = read_file(path, &input, maxSize);
    if (length < 0 || !input) {
        ZQLog::log("[ERROR] Encrypt :: Decrypt file :: read failed");
        std::free(input);
        return std::string();
    }
    const auto* in = reinterpret_cast<const unsigned char*>(input);

    Buffer output;
    output.size = static_cast<size_t>(length) + 16;
    output.data = static_cast<unsigned char*>(std::malloc(output.size));
    if (!output.data) {
        ZQLog::log("[ERROR] Encrypt :: Decrypt file :: alloc failed");
        std::free(input);
        return std::string();
    }

    unsigned char key[kKeySize];
    unsigned char iv[kIvSize];
    int plainLength = -1;

    // Text form first, then the hexadecimal form. A wrong key still passes the padding check now
    // and then, so each result must also read as the expected document.
    text_key_bytes(key, iv);
    const int textLength = decrypt_with_key(in, length, key, iv, output.data);
    if (textLength >= 0 && plain_is_expected(output.data, textLength, expect))
        plainLength = textLength;
    if (plainLength < 0 && hex_to_bytes(key, iv)) {
        const int hexLength = decrypt_with_key(in, length, key, iv, output.data);
        if (hexLength >= 0 && plain_is_expected(output.data, hexLength, expect))
            plainLength = hexLength;
    }
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(iv, sizeof iv);
    std::free(input);

    if (plainLength < 0) {
        ZQLog::log("[ERROR] Encrypt :: Decrypt file :: decrypt failed");
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(output.data), static_cast<size_t>(plainLength));
}

int Encrypt::encrypt_to_file(const QByteArray& plain, const QString& path, KeyForm form, qint64 maxSize)
{
    return encrypt_to_file(plain.toStdString(), QFile::encodeName(path).constData(), form, maxSize);
}

int Encrypt::encrypt_to_file(std::string plain, const char* path, KeyForm form, qint64 maxSize)
{
    if (plain.size() > static_cast<size_t>(qBound<qint64>(0, maxSize, kMaxHashListSize))) {
        ZQLog::log("[ERROR] Encrypt :: Encrypt to file :: alloc failed");
        return -1;
    }
    Buffer output;
    output.size = plain.size() + 16;
    output.data = static_cast<unsigned char*>(std::malloc(output.size));
    if (!output.data) {
        ZQLog::log("[ERROR] Encrypt :: Encrypt to file :: alloc failed");
        return -1;
    }
    unsigned char key[kKeySize];
    unsigned char iv[kIvSize];
    if (form == KeyForm::Text)
        text_key_bytes(key, iv);
    else
        hex_to_bytes(key, iv);
    const int length = encrypt_with_key(reinterpret_cast<const unsigned char*>(plain.data()),
                                        static_cast<int>(plain.size()), key, iv, output.data);
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(iv, sizeof iv);
    if (!plain.empty())
        OPENSSL_cleanse(plain.data(), plain.size());
    if (length < 0) {
        ZQLog::log("[ERROR] Encrypt :: Encrypt to file :: encrypt failed");
        return -1;
    }
    return write_to_file(path, reinterpret_cast<const char*>(output.data), length);
}

int Encrypt::read_file(const char* path, char** buffer, qint64 maxSize)
{
    if (!path || !buffer) {
        ZQLog::log("[ERROR] Encrypt :: read file :: invalid args");
        return -1;
    }
    *buffer = nullptr;
    QFile file(QFile::decodeName(path));
    // A pipe or device named like a metadata file would block the open or never end.
    // Nor is a symbolic link followed: metadata is read from the storage folder itself.
    const QFileInfo info(file.fileName());
    if ((info.exists() || info.isSymLink()) && !StorageLayout::is_regular_file_no_link(file.fileName())) {
        ZQLog::log(QStringLiteral("[ERROR] Encrypt :: read file :: open failed: not a regular file"));
        return -1;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        ZQLog::log(QStringLiteral("[ERROR] Encrypt :: read file :: open failed: ") + file.errorString());
        return -1;
    }
    const qint64 size = file.size();
    if (size <= 0)
        return 0;
    // The byte count is returned as an int: no cap may come near its range.
    if (size > qBound<qint64>(0, maxSize, kMaxHashListSize)) {
        ZQLog::log(QStringLiteral("[ERROR] Encrypt :: read file :: file too large: ") + QString::number(size));
        return -1;
    }
    char* data = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!data) {
        ZQLog::log("[ERROR] Encrypt :: read file :: memory allocation failed");
        return -1;
    }
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(data + got, size - got);
        if (n <= 0)
            break;
        got += n;
    }
    if (got < size) {
        ZQLog::log("[ERROR] Encrypt :: read file :: incomplete read");
        std::free(data);
        return -1;
    }
    *buffer = data;
    return static_cast<int>(size);
}

int Encrypt::write_to_file(const char* path, const char* data, int length)
{
    if (!path || !data || length < 1) {
        ZQLog::log("[ERROR] Encrypt :: write to file :: invalid args");
        return -1;
    }
    const QString filePath = QFile::decodeName(path);
    const QDir folder = QFileInfo(filePath).absoluteDir();
    if (!folder.exists() && !QDir().mkpath(folder.absolutePath())) {
        ZQLog::log(QStringLiteral("[ERROR] Encrypt :: write to file :: cannot create directory: ")
                   + folder.absolutePath());
        return -1;
    }
    QString refused;
    if (!StorageLayout::prepare_write_target(filePath, &refused)) {
        ZQLog::log(QStringLiteral("[ERROR] Encrypt :: write to file :: ") + refused + QStringLiteral(": ") + filePath);
        return -1;
    }
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ZQLog::log(QStringLiteral("[ERROR] Encrypt :: write to file :: open failed: ") + file.errorString());
        return -1;
    }
    qint64 written = 0;
    while (written < length) {
        const qint64 n = file.write(data + written, length - written);
        if (n < 1) {
            ZQLog::log(QStringLiteral("[ERROR] Encrypt :: write to file :: write failed: ") + file.errorString());
            file.cancelWriting();
            return -1;
        }
        written += n;
    }
    if (!file.commit()) {
        ZQLog::log(QStringLiteral("[ERROR] Encrypt :: write to file :: write failed: ") + file.errorString());
        return -1;
    }
    return 1;
}
