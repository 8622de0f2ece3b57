#include "host/system/system_messages.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/win32_errors.h"

namespace quorvant {
namespace {

struct KnownText {
  uint32_t code;
  std::string_view text;
};

// Expected texts typed from the MessageText comments of the Windows SDK
// winerror.h (the text FormatMessage returns, a CR LF after every line); the
// Win32 ones 0-499 also agree with Microsoft Learn "System Error Codes
// (0-499)". Chosen to cover texts with and without a final period, literal
// inserts, a two-line message and every code family the component reports.
constexpr KnownText kKnownTexts[] = {
    // winerror.h ERROR_FILE_NOT_FOUND; Learn System Error Codes (0-499)
    {2, "The system cannot find the file specified.\r\n"},
    // winerror.h ERROR_ACCESS_DENIED; Learn System Error Codes (0-499)
    {5, "Access is denied.\r\n"},
    // winerror.h ERROR_NOT_ENOUGH_MEMORY; Learn System Error Codes (0-499)
    {8,
     "Not enough memory resources are available to process this "
     "command.\r\n"},
    // winerror.h ERROR_INVALID_DATA; Learn System Error Codes (0-499)
    {13, "The data is invalid.\r\n"},
    // winerror.h ERROR_SHARING_VIOLATION
    {32,
     "The process cannot access the file because it is being used by "
     "another process.\r\n"},
    // winerror.h ERROR_WRONG_DISK: two lines, inserts kept literally
    {34,
     "The wrong diskette is in the drive.\r\n"
     "Insert %2 (Volume Serial Number: %3) into drive %1.\r\n"},
    // winerror.h ERROR_INVALID_PARAMETER
    {87, "The parameter is incorrect.\r\n"},
    // winerror.h ERROR_INSUFFICIENT_BUFFER
    {122, "The data area passed to a system call is too small.\r\n"},
    // winerror.h ERROR_ALREADY_EXISTS
    {183, "Cannot create a file when that file already exists.\r\n"},
    // winerror.h ERROR_BAD_EXE_FORMAT: the text starts with an insert
    {193, "%1 is not a valid Win32 application.\r\n"},
    // winerror.h ERROR_KEY_DELETED
    {1018,
     "Illegal operation attempted on a registry key that has been "
     "marked for deletion.\r\n"},
    // winerror.h ERROR_CANCELLED
    {1223, "The operation was canceled by the user.\r\n"},
    // winerror.h ERROR_LOGON_FAILURE
    {1326, "The user name or password is incorrect.\r\n"},
    // winerror.h ERROR_TIMEOUT
    {1460, "This operation returned because the timeout period expired.\r\n"},
    // winerror.h RPC_S_STRING_TOO_LONG
    {1743, "The string is too long.\r\n"},
    // winerror.h ERROR_OBJECT_NOT_FOUND
    {4312, "The object identifier does not represent a valid object.\r\n"},
    // winerror.h E_UNEXPECTED: no final period
    {0x8000FFFF, "Catastrophic failure\r\n"},
    // winerror.h E_FAIL
    {0x80004005, "Unspecified error\r\n"},
    // winerror.h NTE_BAD_KEY
    {0x80090003, "Bad Key.\r\n"},
    // winerror.h NTE_NO_KEY
    {0x8009000D, "Key does not exist.\r\n"},
    // winerror.h NTE_PERM
    {0x80090010, "Access denied.\r\n"},
    // winerror.h NTE_BAD_PROV_TYPE
    {0x80090014, "Invalid provider type specified.\r\n"},
    // winerror.h NTE_BAD_KEYSET: no final period
    {0x80090016, "Keyset does not exist\r\n"},
    // winerror.h NTE_KEYSET_NOT_DEF
    {0x80090019, "The keyset is not defined.\r\n"},
    // winerror.h CRYPT_E_INVALID_MSG_TYPE
    {0x80091004, "Invalid cryptographic message type.\r\n"},
    // winerror.h CRYPT_E_NOT_FOUND
    {0x80092004, "Cannot find object or property.\r\n"},
    // winerror.h CRYPT_E_UNEXPECTED_MSG_TYPE (the system's text, as it is)
    {0x8009200A,
     "The certificate does not have a property that references "
     "a private key.\r\n"},
    // winerror.h CRYPT_E_NO_DECRYPT_CERT
    {0x8009200C,
     "Cannot find the certificate and private key to use for "
     "decryption.\r\n"},
    // winerror.h CRYPT_E_ASN1_EOD
    {0x80093102, "ASN1 unexpected end of data.\r\n"},
    // winerror.h CRYPT_E_ASN1_NOEOD: no final period
    {0x80093202, "ASN1 end of data expected\r\n"},
    // winerror.h CERT_E_EXPIRED
    {0x800B0101,
     "A required certificate is not within its validity period "
     "when verifying against the current system clock or the "
     "timestamp in the signed file.\r\n"},
    // winerror.h CERT_E_CHAINING
    {0x800B010A,
     "A certificate chain could not be built to a trusted root "
     "authority.\r\n"},
    // winerror.h SCARD_E_NO_SMARTCARD
    {0x8010000C,
     "The operation requires a smart card, but no smart card is "
     "currently in the device.\r\n"},
    // winerror.h SCARD_W_WRONG_CHV
    {0x8010006B,
     "The card cannot be accessed because the wrong PIN was "
     "presented.\r\n"},
    // winerror.h SCARD_W_CHV_BLOCKED
    {0x8010006C,
     "The card cannot be accessed because the maximum number of "
     "PIN entry attempts has been reached.\r\n"},
    // winerror.h SCARD_W_CANCELLED_BY_USER
    {0x8010006E, "The action was cancelled by the user.\r\n"},
};

TEST(SystemMessagesTest, KnownTextsAreByteExact) {
  for (const KnownText& known : kKnownTexts) {
    SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << known.code);
    EXPECT_EQ(SystemMessageView(known.code), known.text);
    EXPECT_EQ(SystemMessageText(known.code), std::string(known.text));
  }
}

// The numbers the operations compare capiErrorCode against, as winerror.h
// defines them.
TEST(SystemMessagesTest, NamedConstantsHaveTheWindowsValues) {
  EXPECT_EQ(win32::kErrorFileNotFound, 2u);
  EXPECT_EQ(win32::kErrorBadLength, 24u);
  EXPECT_EQ(win32::kErrorInsufficientBuffer, 122u);
  EXPECT_EQ(win32::kErrorAlreadyExists, 183u);
  EXPECT_EQ(win32::kErrorCancelled, 1223u);
  EXPECT_EQ(win32::kRpcSStringTooLong, 1743u);
  EXPECT_EQ(win32::kErrorObjectNotFound, 4312u);
  EXPECT_EQ(win32::kNteBadKey, 0x80090003u);
  EXPECT_EQ(win32::kNteBadAlgid, 0x80090008u);
  EXPECT_EQ(win32::kNteNoKey, 0x8009000Du);
  EXPECT_EQ(win32::kNtePerm, 0x80090010u);
  EXPECT_EQ(win32::kNteBadProvType, 0x80090014u);
  EXPECT_EQ(win32::kNteBadKeyset, 0x80090016u);
  EXPECT_EQ(win32::kNteKeysetNotDef, 0x80090019u);
  EXPECT_EQ(win32::kCryptEInvalidMsgType, 0x80091004u);
  EXPECT_EQ(win32::kCryptENoDecryptCert, 0x8009200Cu);
  EXPECT_EQ(win32::kScardWWrongChv, 0x8010006Bu);
  EXPECT_EQ(win32::kScardWChvBlocked, 0x8010006Cu);
  EXPECT_EQ(win32::kScardWCancelledByUser, 0x8010006Eu);
  EXPECT_EQ(win32::kEInvalidarg, 0x80070057u);
  EXPECT_EQ(win32::HresultFromWin32(win32::kErrorCancelled), 0x800704C7u);
  EXPECT_EQ(win32::HresultFromWin32(0), 0u);
  EXPECT_EQ(win32::HresultFromWin32(0x80090016u), 0x80090016u);
}

TEST(SystemMessagesTest, Facility32HresultsGiveTheWin32Text) {
  struct Folded {
    uint32_t hresult;
    std::string_view text;  // winerror.h text of the carried Win32 code
  };
  constexpr Folded kFolded[] = {
      {0x80070002, "The system cannot find the file specified.\r\n"},
      {0x80070005, "Access is denied.\r\n"},  // E_ACCESSDENIED
      {0x8007000E,
       "Not enough memory resources are available to complete "
       "this operation.\r\n"},                          // E_OUTOFMEMORY
      {0x80070057, "The parameter is incorrect.\r\n"},  // E_INVALIDARG
      {0x800704C7, "The operation was canceled by the user.\r\n"},
  };
  for (const Folded& f : kFolded) {
    SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << f.hresult);
    EXPECT_EQ(SystemMessageView(f.hresult), f.text);
  }
  // Only FACILITY_WIN32 folds: other facilities keep their own numbering.
  EXPECT_EQ(SystemMessageView(0x80080002u), "");
  EXPECT_EQ(SystemMessageView(0x80090005u), "Bad Data.\r\n");
  // A FACILITY_WIN32 value whose Win32 code has no message has none either.
  EXPECT_EQ(SystemMessageView(0x8007FFFFu), "");
}

TEST(SystemMessagesTest, UnknownCodesHaveNoText) {
  for (uint32_t code : {0x0000FFFFu, 0x12345678u, 0x80090FFFu, 0xDEADBEEFu,
                        0xFFFFFFFFu, 35u, 0x80100000u}) {
    SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << code);
    EXPECT_EQ(SystemMessageView(code), "");
    EXPECT_EQ(SystemMessageText(code), "");
  }
}

// "成功" converted to code page 950 by the C library, so the expected bytes
// do not come from our own table.
std::string Cp950FromUtf8(const std::string& utf8) {
  iconv_t cd = iconv_open("CP950", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string();
  std::string in = utf8;
  std::string out(in.size() * 2, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return std::string();
  out.resize(out.size() - outLeft);
  return out;
}

TEST(SystemMessagesTest, CapiErrorMessageOfZeroIsSuccessInCodePage950) {
  const std::string success = Cp950FromUtf8("成功");
  ASSERT_EQ(success.size(), 4u) << "iconv has no CP950 converter";
  EXPECT_EQ(CapiErrorMessage(0), success + "(0)");
  EXPECT_EQ(CapiErrorMessage(0), std::string("\xA6\xA8\xA5\x5C(0)", 7));
}

TEST(SystemMessagesTest, CapiErrorMessageAppendsEightUpperCaseHexDigits) {
  EXPECT_EQ(CapiErrorMessage(2),
            "The system cannot find the file specified.\r\n(0x00000002)");
  EXPECT_EQ(CapiErrorMessage(0x80090016),
            "Keyset does not exist\r\n(0x80090016)");
  EXPECT_EQ(CapiErrorMessage(0x8009000D),
            "Key does not exist.\r\n(0x8009000D)");
  EXPECT_EQ(CapiErrorMessage(0x80070057),
            "The parameter is incorrect.\r\n(0x80070057)");
  // No message: the suffix alone.
  EXPECT_EQ(CapiErrorMessage(0xDEADBEEF), "(0xDEADBEEF)");
  EXPECT_EQ(CapiErrorMessage(0x12345678), "(0x12345678)");
  EXPECT_EQ(CapiErrorMessage(0xFFFFFFFF), "(0xFFFFFFFF)");
  EXPECT_EQ(CapiErrorMessage(0x0000ABCD), "(0x0000ABCD)");
}

// Every text as FormatMessage returns it: not empty, CR LF after each line,
// no bare LF or CR, printable ASCII otherwise (en-US texts are ASCII in any
// ANSI code page), and found again by the lookup.
TEST(SystemMessagesTest, EveryTableEntryIsAWellFormedMessage) {
  const auto table = SystemMessageTable();
  ASSERT_GT(table.size(), 300u);
  for (const SystemMessageEntry& entry : table) {
    SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << entry.code);
    const std::string_view text = entry.text;
    ASSERT_GE(text.size(), 3u);
    EXPECT_TRUE(text.ends_with("\r\n"));
    EXPECT_NE(text[0], ' ');
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == '\n') {
        EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
      } else if (c == '\r') {
        EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n')
            << "bare CR at " << i;
      } else {
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int{c} << " at " << i;
      }
    }
    EXPECT_EQ(SystemMessageView(entry.code).data(), text.data());
  }
}

TEST(SystemMessagesTest, ErrnoMapsToTheWin32CodeWindowsReports) {
  struct Mapping {
    int err;
    uint32_t win32;
  };
  constexpr Mapping kMappings[] = {
      {0, 0},               // ERROR_SUCCESS
      {ENOENT, 2},          // ERROR_FILE_NOT_FOUND
      {ENOTDIR, 3},         // ERROR_PATH_NOT_FOUND
      {EMFILE, 4},          // ERROR_TOO_MANY_OPEN_FILES
      {ENFILE, 4},          // ERROR_TOO_MANY_OPEN_FILES
      {EACCES, 5},          // ERROR_ACCESS_DENIED
      {EPERM, 5},           // ERROR_ACCESS_DENIED
      {EISDIR, 5},          // ERROR_ACCESS_DENIED
      {EBADF, 6},           // ERROR_INVALID_HANDLE
      {ENOMEM, 8},          // ERROR_NOT_ENOUGH_MEMORY
      {EXDEV, 17},          // ERROR_NOT_SAME_DEVICE
      {EROFS, 19},          // ERROR_WRITE_PROTECT
      {EAGAIN, 33},         // ERROR_LOCK_VIOLATION
      {ENOTSUP, 50},        // ERROR_NOT_SUPPORTED
      {EEXIST, 80},         // ERROR_FILE_EXISTS
      {EINVAL, 87},         // ERROR_INVALID_PARAMETER
      {EPIPE, 109},         // ERROR_BROKEN_PIPE
      {ENOSPC, 112},        // ERROR_DISK_FULL
      {ENOTEMPTY, 145},     // ERROR_DIR_NOT_EMPTY
      {EBUSY, 170},         // ERROR_BUSY
      {ENAMETOOLONG, 206},  // ERROR_FILENAME_EXCED_RANGE
      {EIO, 1117},          // ERROR_IO_DEVICE
      {ECANCELED, 1223},    // ERROR_CANCELLED
      {ETIMEDOUT, 1460},    // ERROR_TIMEOUT
      {ELOOP, 31},          // no counterpart: ERROR_GEN_FAILURE
      {-1, 31},
      {1 << 20, 31},
  };
  for (const Mapping& m : kMappings) {
    SCOPED_TRACE(testing::Message() << "errno " << m.err);
    EXPECT_EQ(Win32ErrorFromErrno(m.err), m.win32);
  }
}

// Whatever errno a system call leaves, the Win32 code it turns into has a
// message, so GetCapiErrorMsg never shows a bare number for a POSIX failure.
TEST(SystemMessagesTest, EveryTranslatedErrnoHasAMessage) {
  for (int err = 1; err < 256; ++err) {
    SCOPED_TRACE(testing::Message() << "errno " << err);
    EXPECT_FALSE(SystemMessageView(Win32ErrorFromErrno(err)).empty());
  }
}

}  // namespace
}  // namespace quorvant
