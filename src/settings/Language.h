#pragma once

namespace kelvora {

// The user-interface language, by LanguageIndex: 0 Japanese, 1 English,
// 2 Traditional Chinese, 3 Simplified Chinese, 4 Korean; any other value
// behaves as English but is kept as it is.

// Makes the language current for the user interface: resource look-ups
// without an explicit language use it, and QLocale's default becomes ja_JP,
// en_US, zh_TW, zh_CN or ko_KR (en_US for any other value). Called on the
// user-interface thread only; other threads may read currentLanguage().
void applyLanguage(int languageIndex);

// The index last given to applyLanguage, unchanged (-1 stays -1); 0,
// Japanese, before the first call, as with an empty settings store.
int currentLanguage();

} // namespace kelvora
