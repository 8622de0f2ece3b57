#include "engine/error_messages.h"

#include <algorithm>
#include <array>
#include <string>

namespace quorvant {
namespace {

// The texts are the component's Big5 messages as read under code page 950;
// the interface receives them as UTF-16, so they are kept in that form.
constexpr ErrorMessageEntry kTable[] = {
    {0, u"成功(%d)"},
    {1001, u"無法建立目錄(%d)"},
    {1002, u"檔案無法讀取(%d)"},
    {1003, u"檔案無法寫入(%d)"},
    {1101, u"憑證檔不存在(%d)"},
    {1102, u"憑證檔無法讀取(%d)"},
    {1103, u"憑證檔無法寫入(%d)"},
    {1201, u"PROPERTY 檔不存在(%d)"},
    {1202, u"PROPERTY 檔無法讀取(%d)"},
    {1203, u"PROPERTY 檔無法寫入(%d)"},
    {1500, u"IE 受保護模式已啟動, 請加入信任網站, 並使用預設保護模式(關閉)(%d)"},
    {1501, u"RSA 產生弱金鑰, 無法使用(%d)"},
    {3001, u"尚未認證(%d)"},
    {3002, u"認證失敗(%d)"},
    {3003, u"下單主機不受信任, 認證失敗(%d)"},
    {3004, u"認證(回覆)識別元錯誤, 認證失敗(%d)"},
    {3005, u"重複認證(%d)"},
    {3201, u"智慧卡服務, 已經停止(%d)"},
    {3202, u"智慧卡拔插, 作業逾時(%d)"},
    {3203, u"智慧卡拔插錯誤(%d)"},
    {3204, u"智慧卡密碼錯誤次數過多, 已經鎖住(%d)"},
    {3205, u"智慧卡服務已經停止(%d)"},
    {3206, u"智慧卡密碼錯誤(%d)"},
    {3207, u"發現停用的智慧卡載具(裝置), 請先排除此問題(%d)"},
    {5001, u"一般錯誤(%d)"},
    {5002, u"配置記憶體發生錯誤(%d)"},
    {5003, u"配置記憶體不足(%d)"},
    {5004, u"不支援的功能(%d)"},
    {5005, u"錯誤的參數(%d)"},
    {5006, u"Handle錯誤(%d)"},
    {5008, u"Base64 編碼錯誤(%d)"},
    {5010, u"無法在憑證區(或憑證檔)中,找到指定憑證(%d)"},
    {5011, u"憑證已過期(%d)"},
    {5012, u"憑證尚未合法,無法使用(%d)"},
    {5013, u"憑證可能過期或無法使用(%d)"},
    {5014, u"憑證主旨錯誤(%d)"},
    {5015, u"無法找到憑證發行者(%d)"},
    {5016, u"不合法的憑證簽章(%d)"},
    {5017, u"憑證用途(加解密,簽驗章)不合適(%d)"},
    {5018, u"憑證尚未註冊, 無法找到指定憑證(%d)"},
    {5020, u"憑證已撤銷(%d)"},
    {5021, u"憑證已撤銷(金鑰洩露)(%d)"},
    {5022, u"憑證已撤銷(CA compromised)(%d)"},
    {5023, u"憑證已撤銷(聯盟已變更)(%d)"},
    {5024, u"憑證已撤銷(已取代)(%d)"},
    {5025, u"憑證已撤銷(已停止)(%d)"},
    {5026, u"憑證保留或暫禁(%d)"},
    {5028, u"憑證已被CRL撤銷(%d)"},
    {5030, u"CRL已過期(%d)"},
    {5031, u"不合法的CRL(%d)"},
    {5032, u"無法找到CRL(%d)"},
    {5034, u"CRL簽章值錯誤(%d)"},
    {5035, u"Digest錯誤(%d)"},
    {5036, u"不合法的簽章(%d)"},
    {5037, u"內容錯誤(%d)"},
    {5040, u"憑證格式錯誤(%d)"},
    {5041, u"CRL格式錯誤(%d)"},
    {5042, u"錯誤的PKCS7格式(%d)"},
    {5043, u"Key的格式錯誤(%d)"},
    {5044, u"不合法的PKCS10格式(%d)"},
    {5045, u"不合適的格式(%d)"},
    {5046, u"CSP 名稱錯誤 : 未指定(%d)"},
    {5047, u"作業系統不支援此 CSP(%d)"},
    {5048, u"強制使用 AES/SHA2 CSP 失敗, 作業系統不支援(%d)"},
    {5049, u"強制使用 AES/SHA2 CSP 情況下, 禁止變更使用其他 CSP(%d)"},
    {5050, u"物件不存在(%d)"},
    {5051, u"PKCS7內容沒有包含原文(%d)"},
    {5052, u"PKCS7內容沒有包含憑證(%d)"},
    {5053, u"PKCS7內容沒有包含簽章資訊(%d)"},
    {5060, u"金鑰不存在(%d)"},
    {5061, u"簽章失敗(%d)"},
    {5062, u"驗章失敗(%d)"},
    {5063, u"加密失敗(%d)"},
    {5064, u"解密失敗(%d)"},
    {5065, u"產生金鑰失敗(%d)"},
    {5066, u"刪除憑證失敗(%d)"},
    {5067, u"執行簽章時, 尚未選擇簽章憑證(%d)"},
    {5070, u"使用者按下\"取消\"按鈕(%d)"},
    {5071, u"密碼錯誤(%d)"},
    {5080, u"無法剖析XML文件(%d)"},
    {5081, u"無法在XML中,找到指定的標籤名稱(%d)"},
    {5200, u"列舉 CSP 發生錯誤(%d)"},
    {5201, u"開啟\"個人憑證區\"失敗(%d)"},
    {5202, u"憑證鏈不存在(%d)"},
    {5203, u"無法取得CSP資源(%d)"},
    {5204, u"找不到關聯的私密金鑰(%d)"},
    {5205, u"關聯的私密金鑰已被標記成\"不能匯出\"(%d)"},
    {5206, u"個人憑證區存取被拒(%d)"},
    {5207, u"PKCS12檔案格式錯誤(%d)"},
    {5208, u"PKCS12 密碼錯誤(%d)"},
    {5209, u"新密碼及確認密碼不一致(%d)"},
    {5210, u"PFX 或記憶體憑證區存取被拒(%d)"},
    {5211, u"CSP 存取被拒(%d)"},
    {5221, u"開啟\"信任根憑證區\"失敗(%d)"},
    {5222, u"開啟\"信任中繼憑證區\"失敗(%d)"},
    {5223, u"開啟\"其他人憑證區\"失敗(%d)"},
    {5224, u"憑證鏈有誤, 無法信任(%d)"},
    {5225, u"IC 卡尚未備妥(%d)"},
    {5226, u"開啟\"記憶體憑證區\"失敗(%d)"},
    {5301, u"金鑰長度錯誤(%d)"},
    {5302, u"金鑰產生失敗(%d)"},
    {5303, u"憑證交換檔產生失敗(%d)"},
    {5304, u"憑證請求檔產生失敗(%d)"},
    {5305, u"ASN1編碼失敗(%d)"},
    {5400, u"憑證交換檔讀不存在(%d)"},
    {5401, u"憑證交換檔讀取失敗(%d)"},
    {5402, u"憑證交換檔寫入失敗(%d)"},
    {5801, u"此網站尚未獲得使用者同意使用憑證元件(%d)"},
    {5802, u"此網站已被禁止使用憑證元件(%d)"},
    {5803, u"無法顯示確認視窗, 已拒絕網頁的要求(%d)"},
    {5804, u"使用者未確認簽章內容, 已拒絕簽章(%d)"},
    {5805, u"網頁不得匯出私密金鑰(%d)"},
    {5806, u"網頁只能存取此網站專屬的登錄機碼(%d)"},
    {5807, u"使用者未同意網頁的要求(%d)"},
    {5808, u"網頁不得讀取此系統資訊(%d)"},
    {5809, u"呼叫端不是憑證元件的瀏覽器擴充功能(%d)"},
    {5901, u"Unicode錯誤(%d)"},
    {5902, u"File Not Found(%d)"},
    {5903, u"Path Not Found(%d)"},
    {5904, u"Network path was not found(%d)"},
    {5905, u"Unknown logon user name or bad password(%d)"},
    {5906, u"使用者權限不足(%d)"},
    {7701, u"一般錯誤(%d)"},
    {7704, u"所指定的演算法不正確(%d)"},
    {7705, u"執行簽驗章演算法時發生錯誤(%d)"},
    {7706, u"簽章值錯誤(%d)"},
    {7707, u"Reference的摘要值錯誤(%d)"},
    {7708, u"執行正規化演算法時發生錯誤(%d)"},
    {7709, u"執行Transform演算法時發生錯誤(%d)"},
    {7710, u"執行Resolver時發生錯誤(%d)"},
    {7711, u"找不到簽章值(%d)"},
    {7712, u"解析XML文件時發生錯誤(%d)"},
    {7713, u"所指向的文件不存在或為空值(%d)"},
    {7714, u"憑證內容與<X509Data>的記載不符合(%d)"},
    {7715, u"XML文件不存在或格式錯誤(%d)"},
    {7716, u"參數不正確(%d)"},
    {7717, u"不支援此C14N演算法(%d)"},
    {7718, u"不支援此簽章演算法(%d)"},
    {7719, u"不支援此摘要演算法(%d)"},
    {8706, u"P12 檔尚未載入(%d)"},
    {8707, u"P12 檔早已載入(%d)"},
    {9001, u"加解密演算法錯誤(%d)"},
    {9002, u"加解格式錯誤(%d)"},
    {9003, u"加解密密碼長度錯誤(%d)"},
    {9004, u"加密錯誤(%d)"},
    {9005, u"解密錯誤(%d)"},
    {9006, u"解密錯誤, 找不到可用憑證(%d)"},
};

constexpr std::u16string_view kDefault = u"錯誤碼未定義(%d) ";

constexpr bool SortedByCode() {
  for (size_t i = 1; i < std::size(kTable); ++i) {
    if (kTable[i - 1].code >= kTable[i].code) return false;
  }
  return true;
}
static_assert(SortedByCode(), "ErrorMessageTable must stay sorted by code");

}  // namespace

std::span<const ErrorMessageEntry> ErrorMessageTable() { return kTable; }

std::u16string_view DefaultErrorMessage() { return kDefault; }

std::u16string ErrorMessageText(int32_t code) {
  const auto* found = std::lower_bound(
      std::begin(kTable), std::end(kTable), code,
      [](const ErrorMessageEntry& e, int32_t c) { return e.code < c; });
  std::u16string_view text =
      (found != std::end(kTable) && found->code == code) ? found->text : kDefault;

  const std::string digits = std::to_string(code);
  std::u16string out;
  const size_t placeholder = text.find(u"%d");
  out.reserve(text.size() + digits.size());
  out.append(text.substr(0, placeholder));
  out.append(digits.begin(), digits.end());
  out.append(text.substr(placeholder + 2));
  return out;
}

}  // namespace quorvant
