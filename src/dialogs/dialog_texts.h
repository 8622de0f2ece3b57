// Every text the dialogs show, in UTF-16. The models hand them out narrow (in
// the component's code page), the GTK front end as UTF-8. "\n" is a line
// break inside a label.
#ifndef QUORVANT_DIALOGS_DIALOG_TEXTS_H_
#define QUORVANT_DIALOGS_DIALOG_TEXTS_H_

#include <string_view>

namespace quorvant::dialog_text {

// Captions.
inline constexpr std::u16string_view kCaptionPfxFile = u"輸入憑證檔案資訊";  // 202, 206, 207
inline constexpr std::u16string_view kCaptionChangePassword = u"變更憑證檔案密碼";
inline constexpr std::u16string_view kCaptionCertificateList = u"選擇憑證匯出至憑證交換檔";
inline constexpr std::u16string_view kCaptionExportPassword = u"執行憑證匯出";
inline constexpr std::u16string_view kCaptionSign = u"執行簽章(Sign with this Certificate)";
inline constexpr std::u16string_view kCaptionMessageBox = u"錯誤訊息";

// Buttons.
inline constexpr std::u16string_view kOk = u"確定";
inline constexpr std::u16string_view kCancel = u"取消";
inline constexpr std::u16string_view kBrowse = u"瀏覽";
inline constexpr std::u16string_view kViewCertificate = u"檢視憑證";
inline constexpr std::u16string_view kSignOk = u"確定(Ok)";
inline constexpr std::u16string_view kSignCancel = u"取消(Cancel)";

// Labels of the file dialogs.
inline constexpr std::u16string_view kPathLabel = u"憑證檔案儲存路徑 :";  // 202, 203
inline constexpr std::u16string_view kPasswordLabel = u"輸入憑證密碼 :";  // 202, 205
inline constexpr std::u16string_view kOldPasswordLabel = u"輸入原憑證密碼 :";
inline constexpr std::u16string_view kNewPasswordLabel = u"輸入新憑證密碼 :";
inline constexpr std::u16string_view kNewConfirmationLabel = u"確認新憑證密碼 :";
inline constexpr std::u16string_view kExportPathLabel =
    u"指定您要匯出的檔案名稱及路徑： \n(預設儲存路徑為桌面)";  // 206, 207
inline constexpr std::u16string_view kExportPasswordLabel =
    u"設定憑證密碼,\n憑證匯出, 需驗證憑證密碼";  // 206, 207
inline constexpr std::u16string_view kExportConfirmationLabel = u"確認憑證密碼";  // 206

// The certificate chooser.
inline constexpr std::u16string_view kCertificateGroup = u"憑證";
struct ListColumn {
  std::u16string_view title;
  int widthPixels;
};
inline constexpr ListColumn kCertificateColumns[5] = {
    {u"憑證持有人", 150}, {u"憑證序號", 110}, {u"起始日", 110},
    {u"截止日", 110},     {u"憑證發行者", 180},
};

// The sign confirmation.
inline constexpr std::u16string_view kSignContentGroup = u"簽章內容(Plain Text tobe sign)";
inline constexpr std::u16string_view kSignCertificateGroup = u"簽章憑證 (Certificate information)";
inline constexpr std::u16string_view kSignSerialLabel = u"憑證序號(Serial) : ";
inline constexpr std::u16string_view kSignCommonNameLabel = u"用戶名(CommonName) :";
inline constexpr std::u16string_view kSignValidityLabel = u"憑證效期(Validity):";
inline constexpr std::u16string_view kSignFromLabel = u"From :";
inline constexpr std::u16string_view kSignToLabel = u"to :";
// Shown above the content when a web site asks (through the browser bridge).
inline constexpr std::u16string_view kSignOriginLabel = u"要求的網站：";

// Pickers.
inline constexpr std::u16string_view kPfxPickerTitle = u"選擇憑證檔案";
inline constexpr std::u16string_view kFolderPickerTitle = u"選擇憑證檔案儲存路徑 :";
inline constexpr std::u16string_view kPfxFilter =
    u"PFX Files (*.pfx;*.p12)|*.pfx; *.p12|All Files (*.*)|*.*||";

// Message parts: "憑證檔(" path ") : 錯誤或不存在", "憑證目錄 (" directory
// ") : 錯誤或沒有寫入權限", "未指定" for an empty path or directory.
inline constexpr std::u16string_view kFileMessageStart = u"憑證檔(";
inline constexpr std::u16string_view kFileMessageEnd = u") : 錯誤或不存在";
inline constexpr std::u16string_view kDirectoryMessageStart = u"憑證目錄 (";
inline constexpr std::u16string_view kDirectoryMessageEnd = u") : 錯誤或沒有寫入權限";
inline constexpr std::u16string_view kUnspecified = u"未指定";
inline constexpr std::u16string_view kPasswordMismatch = u"密碼不一致";

}  // namespace quorvant::dialog_text

#endif  // QUORVANT_DIALOGS_DIALOG_TEXTS_H_
