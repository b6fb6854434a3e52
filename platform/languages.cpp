#include "platform/languages.h"

namespace zv {
namespace {

struct LanguageEntry {
    uint16_t id;
    const char* name;
};

// The primary language in the low 10 bits, the region above them.
const LanguageEntry kLanguages[] = {
    {0x0000, "Language Neutral"},
    {0x0401, "Arabic (Saudi Arabia)"},
    {0x0402, "Bulgarian (Bulgaria)"},
    {0x0403, "Catalan (Catalan)"},
    {0x0404, "Chinese (Traditional, Taiwan)"},
    {0x0405, "Czech (Czech Republic)"},
    {0x0406, "Danish (Denmark)"},
    {0x0407, "German (Germany)"},
    {0x0408, "Greek (Greece)"},
    {0x0409, "English (United States)"},
    {0x040A, "Spanish (Spain, Traditional Sort)"},
    {0x040B, "Finnish (Finland)"},
    {0x040C, "French (France)"},
    {0x040D, "Hebrew (Israel)"},
    {0x040E, "Hungarian (Hungary)"},
    {0x040F, "Icelandic (Iceland)"},
    {0x0410, "Italian (Italy)"},
    {0x0411, "Japanese (Japan)"},
    {0x0412, "Korean (Korea)"},
    {0x0413, "Dutch (Netherlands)"},
    {0x0414, "Norwegian, Bokm\xE5l (Norway)"},
    {0x0415, "Polish (Poland)"},
    {0x0416, "Portuguese (Brazil)"},
    {0x0418, "Romanian (Romania)"},
    {0x0419, "Russian (Russia)"},
    {0x041A, "Croatian (Croatia)"},
    {0x041B, "Slovak (Slovakia)"},
    {0x041C, "Albanian (Albania)"},
    {0x041D, "Swedish (Sweden)"},
    {0x041E, "Thai (Thailand)"},
    {0x041F, "Turkish (Turkey)"},
    {0x0421, "Indonesian (Indonesia)"},
    {0x0422, "Ukrainian (Ukraine)"},
    {0x0424, "Slovenian (Slovenia)"},
    {0x0425, "Estonian (Estonia)"},
    {0x0426, "Latvian (Latvia)"},
    {0x0427, "Lithuanian (Lithuania)"},
    {0x042D, "Basque (Basque)"},
    {0x0436, "Afrikaans (South Africa)"},
    {0x0804, "Chinese (Simplified, PRC)"},
    {0x0807, "German (Switzerland)"},
    {0x0809, "English (United Kingdom)"},
    {0x080A, "Spanish (Mexico)"},
    {0x080C, "French (Belgium)"},
    {0x0810, "Italian (Switzerland)"},
    {0x0813, "Dutch (Belgium)"},
    {0x0814, "Norwegian, Nynorsk (Norway)"},
    {0x0816, "Portuguese (Portugal)"},
    {0x0C07, "German (Austria)"},
    {0x0C09, "English (Australia)"},
    {0x0C0A, "Spanish (Spain, International Sort)"},
    {0x0C0C, "French (Canada)"},
    {0x1009, "English (Canada)"},
    {0x100C, "French (Switzerland)"},
    {0x1409, "English (New Zealand)"},
    {0x1809, "English (Ireland)"},
};

}  // namespace

const char* KnownLanguageName(uint32_t language) {
    uint16_t id = static_cast<uint16_t>(language);
    for (const LanguageEntry& entry : kLanguages) {
        if (entry.id == id) return entry.name;
    }
    return nullptr;
}

}  // namespace zv
