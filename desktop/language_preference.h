// The launcher speaks Chinese or English as the current user's language value
// says: HKEY_CURRENT_USER\SOFTWARE\vorlan\Language, default value "zh-CN" or
// "en-US". Chinese unless the value is exactly "en-US".
#pragma once

namespace launcher {

// Reads the value afresh on every call; every failure reads as Chinese.
bool IsChineseLanguage();

}  // namespace launcher
