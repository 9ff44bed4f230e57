#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

class QSettings;

// Status codes, the values the Windows registry API used for the same cases.
inline constexpr std::int32_t kRegSuccess = 0;
inline constexpr std::int32_t kRegNotFound = 2;      // value missing
inline constexpr std::int32_t kRegAccessDenied = 5;  // store cannot be read or written
inline constexpr std::int32_t kRegMoreData = 234;    // data do not fit the buffer
inline constexpr std::int32_t kRegCorrupt = 1015;    // store file cannot be parsed

// Roots of the key hierarchy. The only one is the user's own store: the INI
// file QSettings(IniFormat, UserScope, "Quorvex Solution", "QuorvexUpdate"),
// usually ~/.config/Quorvex Solution/QuorvexUpdate.ini. Key paths keep their
// backslashes ("Software\Quorvex Solution") and become INI group paths.
enum class RegRoot { CurrentUser };
inline constexpr RegRoot HKEY_CURRENT_USER = RegRoot::CurrentUser;

// Value types as stored. A REG_SZ value is written as plain text; a
// REG_DWORD value as "dword:" and eight hex digits, the .reg file notation.
// Text that would read as one of these notations is written with "sz:"
// before it, so a hand-edited file stays readable and types never mix up.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;  // only from a hand-edited @ByteArray() value
inline constexpr std::uint32_t kRegDword = 4;

// Size of the buffer a string query reads into, terminator included.
inline constexpr int kRegStringBufferBytes = 200;

// One open key of the settings store. Nothing here shows a message; every
// operation returns a status code and callers decide what a failure means.
class CRegKeyEx {
public:
    CRegKeyEx();
    virtual ~CRegKeyEx();
    CRegKeyEx(const CRegKeyEx&) = delete;
    CRegKeyEx& operator=(const CRegKeyEx&) = delete;

    // Opens the key, creating it when missing. A store file that exists but
    // cannot be read (kRegAccessDenied) or parsed (kRegCorrupt)
    // leaves the object closed, so nothing can ever be written over it.
    std::int32_t Create(RegRoot parent, const QString& subKey);
    void Close();
    bool IsOpen() const { return m_hKey != nullptr; }

    // The text is stored with its terminating zero counted: an empty text is
    // a one-byte value.
    std::int32_t SetStringValue(const char* valueName, const QString& text);
    std::int32_t SetDWORDValue(const char* valueName, std::uint32_t value);
    // On failure the result is empty / 0. The stored type is not examined:
    // a DWORD reads as its little-endian bytes up to the first zero byte, a
    // text of at most 4 bytes (terminator included) reads as a number.
    std::int32_t QueryStringValue(const char* valueName, QString& value);
    std::int32_t QueryDWORDValue(const char* valueName, std::uint32_t& value);

    // The value's raw data and type, as a registry would return them.
    std::int32_t QueryRawValue(const char* valueName, std::uint32_t& type, QByteArray& data);

    const QString& KeyName() const { return m_strKeyName; }

private:
    std::int32_t WriteValue(const char* valueName, const QString& stored);

    QString m_strKeyName;
    std::unique_ptr<QSettings> m_hKey;
};
