#include "quillon/languages.h"

#include <cstdio>

namespace quillon {

namespace {

// Windows ANSI code pages.
constexpr uint16_t kWestern = 1252;
constexpr uint16_t kCentral = 1250;
constexpr uint16_t kCyrillic = 1251;
constexpr uint16_t kGreek = 1253;
constexpr uint16_t kTurkish = 1254;
constexpr uint16_t kHebrew = 1255;
constexpr uint16_t kArabic = 1256;
constexpr uint16_t kBaltic = 1257;
constexpr uint16_t kVietnamese = 1258;
constexpr uint16_t kThai = 874;
constexpr uint16_t kNone = 0;  // the language is written in Unicode only

// Every language of the Windows language identifiers that a system or a
// version resource carries, sorted by id.
const WindowsLanguage kLanguages[] = {
    {0x0000, kNone, "Language Neutral"},
    {0x0401, kArabic, "Arabic (Saudi Arabia)"},
    {0x0402, kCyrillic, "Bulgarian"},
    {0x0403, kWestern, "Catalan"},
    {0x0404, 950, "Chinese (Taiwan)"},
    {0x0405, kCentral, "Czech"},
    {0x0406, kWestern, "Danish"},
    {0x0407, kWestern, "German (Germany)"},
    {0x0408, kGreek, "Greek"},
    {0x0409, kWestern, "English (United States)"},
    {0x040A, kWestern, "Spanish (Traditional Sort)"},
    {0x040B, kWestern, "Finnish"},
    {0x040C, kWestern, "French (France)"},
    {0x040D, kHebrew, "Hebrew"},
    {0x040E, kCentral, "Hungarian"},
    {0x040F, kWestern, "Icelandic"},
    {0x0410, kWestern, "Italian (Italy)"},
    {0x0411, 932, "Japanese"},
    {0x0412, 949, "Korean"},
    {0x0413, kWestern, "Dutch (Netherlands)"},
    {0x0414, kWestern, "Norwegian (Bokmal)"},
    {0x0415, kCentral, "Polish"},
    {0x0416, kWestern, "Portuguese (Brazil)"},
    {0x0417, kWestern, "Romansh"},
    {0x0418, kCentral, "Romanian"},
    {0x0419, kCyrillic, "Russian"},
    {0x041A, kCentral, "Croatian"},
    {0x041B, kCentral, "Slovak"},
    {0x041C, kCentral, "Albanian"},
    {0x041D, kWestern, "Swedish (Sweden)"},
    {0x041E, kThai, "Thai"},
    {0x041F, kTurkish, "Turkish"},
    {0x0420, kArabic, "Urdu"},
    {0x0421, kWestern, "Indonesian"},
    {0x0422, kCyrillic, "Ukrainian"},
    {0x0423, kCyrillic, "Belarusian"},
    {0x0424, kCentral, "Slovenian"},
    {0x0425, kBaltic, "Estonian"},
    {0x0426, kBaltic, "Latvian"},
    {0x0427, kBaltic, "Lithuanian"},
    {0x0428, kCyrillic, "Tajik"},
    {0x0429, kArabic, "Persian"},
    {0x042A, kVietnamese, "Vietnamese"},
    {0x042B, kNone, "Armenian"},
    {0x042C, kTurkish, "Azerbaijani (Latin)"},
    {0x042D, kWestern, "Basque"},
    {0x042E, kWestern, "Upper Sorbian"},
    {0x042F, kCyrillic, "Macedonian"},
    {0x0432, kWestern, "Setswana"},
    {0x0434, kWestern, "isiXhosa"},
    {0x0435, kWestern, "isiZulu"},
    {0x0436, kWestern, "Afrikaans"},
    {0x0437, kNone, "Georgian"},
    {0x0438, kWestern, "Faroese"},
    {0x0439, kNone, "Hindi"},
    {0x043A, kNone, "Maltese"},
    {0x043B, kWestern, "Sami, Northern (Norway)"},
    {0x043E, kWestern, "Malay (Malaysia)"},
    {0x043F, kCyrillic, "Kazakh"},
    {0x0440, kCyrillic, "Kyrgyz"},
    {0x0441, kWestern, "Kiswahili"},
    {0x0442, kCentral, "Turkmen"},
    {0x0443, kTurkish, "Uzbek (Latin)"},
    {0x0444, kCyrillic, "Tatar"},
    {0x0445, kNone, "Bangla (India)"},
    {0x0446, kNone, "Punjabi"},
    {0x0447, kNone, "Gujarati"},
    {0x0448, kNone, "Odia"},
    {0x0449, kNone, "Tamil"},
    {0x044A, kNone, "Telugu"},
    {0x044B, kNone, "Kannada"},
    {0x044C, kNone, "Malayalam"},
    {0x044D, kNone, "Assamese"},
    {0x044E, kNone, "Marathi"},
    {0x044F, kNone, "Sanskrit"},
    {0x0450, kCyrillic, "Mongolian (Cyrillic)"},
    {0x0451, kNone, "Tibetan"},
    {0x0452, kWestern, "Welsh"},
    {0x0453, kNone, "Khmer"},
    {0x0454, kNone, "Lao"},
    {0x0456, kWestern, "Galician"},
    {0x0457, kNone, "Konkani"},
    {0x045A, kNone, "Syriac"},
    {0x045B, kNone, "Sinhala"},
    {0x045D, kNone, "Inuktitut (Syllabics)"},
    {0x045E, kNone, "Amharic"},
    {0x0461, kNone, "Nepali"},
    {0x0462, kWestern, "Frisian"},
    {0x0463, kNone, "Pashto"},
    {0x0464, kWestern, "Filipino"},
    {0x0465, kNone, "Divehi"},
    {0x0468, kWestern, "Hausa (Latin)"},
    {0x046A, kWestern, "Yoruba"},
    {0x046B, kWestern, "Quechua (Bolivia)"},
    {0x046C, kWestern, "Sesotho sa Leboa"},
    {0x046D, kCyrillic, "Bashkir"},
    {0x046E, kWestern, "Luxembourgish"},
    {0x046F, kWestern, "Greenlandic"},
    {0x0470, kWestern, "Igbo"},
    {0x0478, kNone, "Yi"},
    {0x047A, kWestern, "Mapudungun"},
    {0x047C, kWestern, "Mohawk"},
    {0x047E, kWestern, "Breton"},
    {0x0480, kArabic, "Uyghur"},
    {0x0481, kNone, "Maori"},
    {0x0482, kWestern, "Occitan"},
    {0x0483, kWestern, "Corsican"},
    {0x0484, kWestern, "Alsatian"},
    {0x0485, kCyrillic, "Sakha"},
    {0x0486, kWestern, "K'iche'"},
    {0x0487, kWestern, "Kinyarwanda"},
    {0x0488, kWestern, "Wolof"},
    {0x048C, kArabic, "Dari"},
    {0x0491, kWestern, "Scottish Gaelic"},
    {0x0492, kArabic, "Central Kurdish"},
    {0x0801, kArabic, "Arabic (Iraq)"},
    {0x0804, 936, "Chinese (PRC)"},
    {0x0807, kWestern, "German (Switzerland)"},
    {0x0809, kWestern, "English (United Kingdom)"},
    {0x080A, kWestern, "Spanish (Mexico)"},
    {0x080C, kWestern, "French (Belgium)"},
    {0x0810, kWestern, "Italian (Switzerland)"},
    {0x0813, kWestern, "Dutch (Belgium)"},
    {0x0814, kWestern, "Norwegian (Nynorsk)"},
    {0x0816, kWestern, "Portuguese (Portugal)"},
    {0x081A, kCentral, "Serbian (Latin, Serbia and Montenegro)"},
    {0x081D, kWestern, "Swedish (Finland)"},
    {0x082C, kCyrillic, "Azerbaijani (Cyrillic)"},
    {0x082E, kWestern, "Lower Sorbian"},
    {0x083B, kWestern, "Sami, Northern (Sweden)"},
    {0x083C, kWestern, "Irish"},
    {0x083E, kWestern, "Malay (Brunei)"},
    {0x0843, kCyrillic, "Uzbek (Cyrillic)"},
    {0x0845, kNone, "Bangla (Bangladesh)"},
    {0x0850, kNone, "Mongolian (Traditional)"},
    {0x085D, kWestern, "Inuktitut (Latin)"},
    {0x085F, kWestern, "Tamazight (Latin)"},
    {0x086B, kWestern, "Quechua (Ecuador)"},
    {0x0C01, kArabic, "Arabic (Egypt)"},
    {0x0C04, 950, "Chinese (Hong Kong SAR)"},
    {0x0C07, kWestern, "German (Austria)"},
    {0x0C09, kWestern, "English (Australia)"},
    {0x0C0A, kWestern, "Spanish (Modern Sort)"},
    {0x0C0C, kWestern, "French (Canada)"},
    {0x0C1A, kCyrillic, "Serbian (Cyrillic, Serbia and Montenegro)"},
    {0x0C3B, kWestern, "Sami, Northern (Finland)"},
    {0x0C6B, kWestern, "Quechua (Peru)"},
    {0x1001, kArabic, "Arabic (Libya)"},
    {0x1004, 936, "Chinese (Singapore)"},
    {0x1007, kWestern, "German (Luxembourg)"},
    {0x1009, kWestern, "English (Canada)"},
    {0x100A, kWestern, "Spanish (Guatemala)"},
    {0x100C, kWestern, "French (Switzerland)"},
    {0x101A, kCentral, "Croatian (Bosnia and Herzegovina)"},
    {0x103B, kWestern, "Sami, Lule (Norway)"},
    {0x1401, kArabic, "Arabic (Algeria)"},
    {0x1404, 950, "Chinese (Macao SAR)"},
    {0x1407, kWestern, "German (Liechtenstein)"},
    {0x1409, kWestern, "English (New Zealand)"},
    {0x140A, kWestern, "Spanish (Costa Rica)"},
    {0x140C, kWestern, "French (Luxembourg)"},
    {0x141A, kCentral, "Bosnian (Latin)"},
    {0x143B, kWestern, "Sami, Lule (Sweden)"},
    {0x1801, kArabic, "Arabic (Morocco)"},
    {0x1809, kWestern, "English (Ireland)"},
    {0x180A, kWestern, "Spanish (Panama)"},
    {0x180C, kWestern, "French (Monaco)"},
    {0x181A, kCentral, "Serbian (Latin, Bosnia and Herzegovina)"},
    {0x183B, kWestern, "Sami, Southern (Norway)"},
    {0x1C01, kArabic, "Arabic (Tunisia)"},
    {0x1C09, kWestern, "English (South Africa)"},
    {0x1C0A, kWestern, "Spanish (Dominican Republic)"},
    {0x1C1A, kCyrillic, "Serbian (Cyrillic, Bosnia and Herzegovina)"},
    {0x1C3B, kWestern, "Sami, Southern (Sweden)"},
    {0x2001, kArabic, "Arabic (Oman)"},
    {0x2009, kWestern, "English (Jamaica)"},
    {0x200A, kWestern, "Spanish (Venezuela)"},
    {0x201A, kCyrillic, "Bosnian (Cyrillic)"},
    {0x203B, kWestern, "Sami, Skolt (Finland)"},
    {0x2401, kArabic, "Arabic (Yemen)"},
    {0x2409, kWestern, "English (Caribbean)"},
    {0x240A, kWestern, "Spanish (Colombia)"},
    {0x241A, kCentral, "Serbian (Latin, Serbia)"},
    {0x243B, kWestern, "Sami, Inari (Finland)"},
    {0x2801, kArabic, "Arabic (Syria)"},
    {0x2809, kWestern, "English (Belize)"},
    {0x280A, kWestern, "Spanish (Peru)"},
    {0x281A, kCyrillic, "Serbian (Cyrillic, Serbia)"},
    {0x2C01, kArabic, "Arabic (Jordan)"},
    {0x2C09, kWestern, "English (Trinidad and Tobago)"},
    {0x2C0A, kWestern, "Spanish (Argentina)"},
    {0x2C1A, kCentral, "Serbian (Latin, Montenegro)"},
    {0x3001, kArabic, "Arabic (Lebanon)"},
    {0x3009, kWestern, "English (Zimbabwe)"},
    {0x300A, kWestern, "Spanish (Ecuador)"},
    {0x301A, kCyrillic, "Serbian (Cyrillic, Montenegro)"},
    {0x3401, kArabic, "Arabic (Kuwait)"},
    {0x3409, kWestern, "English (Philippines)"},
    {0x340A, kWestern, "Spanish (Chile)"},
    {0x3801, kArabic, "Arabic (U.A.E.)"},
    {0x380A, kWestern, "Spanish (Uruguay)"},
    {0x3C01, kArabic, "Arabic (Bahrain)"},
    {0x3C0A, kWestern, "Spanish (Paraguay)"},
    {0x4001, kArabic, "Arabic (Qatar)"},
    {0x4009, kWestern, "English (India)"},
    {0x400A, kWestern, "Spanish (Bolivia)"},
    {0x4409, kWestern, "English (Malaysia)"},
    {0x440A, kWestern, "Spanish (El Salvador)"},
    {0x4809, kWestern, "English (Singapore)"},
    {0x480A, kWestern, "Spanish (Honduras)"},
    {0x4C0A, kWestern, "Spanish (Nicaragua)"},
    {0x500A, kWestern, "Spanish (Puerto Rico)"},
    {0x540A, kWestern, "Spanish (United States)"},
};

}  // namespace

const WindowsLanguage* FindWindowsLanguage(uint32_t id) {
    for (const WindowsLanguage& l : kLanguages) {
        if (l.id == id) return &l;
    }
    return nullptr;
}

std::string LanguageProblem(const std::string& text, uint32_t id) {
    if (FindWindowsLanguage(id) != nullptr) return std::string();
    char shown[16];
    std::snprintf(shown, sizeof shown, "0x%04X", static_cast<unsigned>(id));
    std::string problem = "the language id " + std::string(shown) + " names no Windows language";
    // Decimal digits that read as a language in hex: the 0x was left out.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!hex && text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos) {
        const unsigned long asHex = std::stoul(text, nullptr, 16);
        if (const WindowsLanguage* meant = FindWindowsLanguage(static_cast<uint32_t>(asHex))) {
            char hint[16];
            std::snprintf(hint, sizeof hint, "0x%04X", static_cast<unsigned>(meant->id));
            problem += std::string("; did you mean ") + hint + " (" + meant->name + ")? A number without 0x is decimal";
        }
    }
    return problem;
}

}  // namespace quillon
