#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// Whole-file AES-256-CBC (PKCS#7 padding, no header) of the storage metadata files: camera
// information, tag files, the integrity list. Stateless: every call makes its own cipher context,
// so the functions may run in several threads at once.
//
// Two key forms exist. The text form takes the character codes of the first 32 characters of the
// key text and of the first 16 characters of the vector text; every file we write uses it. The
// hexadecimal form takes the bytes that the two texts spell; older files use it, so reading falls
// back to it.
class Encrypt
{
public:
    enum class KeyForm { Text, Hex };

    // What the caller expects to find in a decrypted file. A decryption with the wrong key passes
    // the padding check about once in 257 files and yields garbage; the expected shape tells
    // the two apart, so the other key form is tried whenever the text is not what was expected.
    enum class Expect { JsonDocument, JsonObject, JsonArray };

    // Metadata files are small; anything larger is refused before it is read.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
    // The integrity list names every file of a day (a 16-camera day lists about 70,000 files,
    // near 18 MB of JSON), so it gets a cap of its own.
    static constexpr qint64 kMaxHashListSize = 128 * 1024 * 1024;
    static constexpr int kKeySize = 32;
    static constexpr int kIvSize = 16;

    // The plain text of an encrypted file; empty on any failure (logged). Files above maxSize bytes
    // are refused unread.
    static std::string decrypt_file(const char* path, Expect expect = Expect::JsonDocument,
                                    qint64 maxSize = kMaxFileSize);
    static std::string decrypt_file(const QString& path, Expect expect = Expect::JsonDocument,
                                    qint64 maxSize = kMaxFileSize);

    // Encrypts the plain text into the file (written through QSaveFile, missing folders made).
    // 1 when written, -1 on failure (logged), also when the plain text exceeds maxSize bytes.
    static int encrypt_to_file(std::string plain, const char* path, KeyForm form = KeyForm::Text,
                               qint64 maxSize = kMaxFileSize);
    static int encrypt_to_file(const QByteArray& plain, const QString& path, KeyForm form = KeyForm::Text,
                               qint64 maxSize = kMaxFileSize);

    // AES-256-CBC of `length` bytes with the given 32-byte key and 16-byte vector into `out`,
    // which holds at least length + 16 bytes. The output length, or -1.
    static int decrypt_with_key(const unsigned char* in, int length, const unsigned char* key,
                                const unsigned char* iv, unsigned char* out);
    static int encrypt_with_key(const unsigned char* in, int length, const unsigned char* key,
                                const unsigned char* iv, unsigned char* out);

    // The hexadecimal key form; false at the first character that is not a hexadecimal digit.
    static bool hex_to_bytes(unsigned char* key, unsigned char* iv);
    // The text key form.
    static void text_key_bytes(unsigned char* key, unsigned char* iv);

    // The whole file into a malloc'ed buffer (caller frees): byte count, 0 for an empty file
    // (no buffer), -1 on failure or when the file exceeds maxSize (at most kMaxHashListSize).
    static int read_file(const char* path, char** buffer, qint64 maxSize = kMaxFileSize);
    // Writes the data through a QSaveFile, creating missing folders: 1 on success, -1 on failure.
    static int write_to_file(const char* path, const char* data, int length);

    // The built-in key and vector texts.
    static const char* key_text();
    static const char* iv_text();
};
