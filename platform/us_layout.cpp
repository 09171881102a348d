#include "platform/us_layout.h"

#include <array>
#include <cstddef>
#include <span>

#include "common/control_characters.h"

namespace lintrel::platform {
namespace {

// The character tables of the Windows US-English keyboard layout, and the rule by which
// Windows' VkKeyScan searches them for the key that types a character.
//
// The layout describes its keys in four tables, grouped by how many modifier columns
// each key has. The columns are, in order: no modifier, Shift, Ctrl, Shift+Ctrl; a key
// with fewer columns types nothing with the modifiers it lacks. The tables, and the rows
// within each table, are listed below in the layout's own order, which is the order
// VkKeyScan searches them in:
//   1. three columns: the bracket and backslash keys, Backspace, Escape, Enter, Space
//      and Ctrl+Break, whose Ctrl column types a control character;
//   2. four columns: 2, 6 and minus, which type NUL, RS and US with Shift+Ctrl;
//   3. two columns: the rest of the main keys, then the numeric keypad's operators;
//   4. one column: the keypad digits, last so that a digit maps to the main row.
//
// The search rule: the first key, in table order, whose no-modifier or Shift column
// types the character wins. A Ctrl or Shift+Ctrl column is only a fallback when no key
// types the character without Ctrl: then the first Ctrl match wins, else the first
// Shift+Ctrl match. That is why ESC (0x1B) maps to the Escape key rather than to
// Ctrl+[ although the [ key comes first in the table. A control character that no key
// types at all (SOH..SUB except those Backspace, Tab, Enter and Ctrl+Break produce) maps
// to Ctrl plus the letter 0x40 above it, as Ctrl+A types SOH. Nothing else has a key.
//
// VkKeyScanA first converts its byte from the Windows-1252 code page. Bytes 0x00..0x7F
// are ASCII there; bytes 0x80..0xFF are accented letters and symbols (or unassigned), none
// of which the US layout can type, so every byte from 0x80 up has no key.

// Virtual-key codes of the keys in the tables.
constexpr uint8_t kVkCancel = 0x03;  // Ctrl+Break
constexpr uint8_t kVkBack = 0x08;
constexpr uint8_t kVkTab = 0x09;
constexpr uint8_t kVkReturn = 0x0D;
constexpr uint8_t kVkEscape = 0x1B;
constexpr uint8_t kVkSpace = 0x20;
constexpr uint8_t kVkNumpad0 = 0x60;
constexpr uint8_t kVkMultiply = 0x6A;
constexpr uint8_t kVkAdd = 0x6B;
constexpr uint8_t kVkSubtract = 0x6D;
constexpr uint8_t kVkDecimal = 0x6E;
constexpr uint8_t kVkDivide = 0x6F;
constexpr uint8_t kVkOem1 = 0xBA;  // ; :
constexpr uint8_t kVkOemPlus = 0xBB;
constexpr uint8_t kVkOemComma = 0xBC;
constexpr uint8_t kVkOemMinus = 0xBD;
constexpr uint8_t kVkOemPeriod = 0xBE;
constexpr uint8_t kVkOem2 = 0xBF;  // / ?
constexpr uint8_t kVkOem3 = 0xC0;  // ` ~
constexpr uint8_t kVkOem4 = 0xDB;  // [ {
constexpr uint8_t kVkOem5 = 0xDC;  // \ |
constexpr uint8_t kVkOem6 = 0xDD;  // ] }
constexpr uint8_t kVkOem7 = 0xDE;  // ' "
constexpr uint8_t kVkOem102 = 0xE2;  // the extra \ | key of 102-key keyboards

// Shift-state bits of a VkKeyScan result's high byte.
constexpr uint8_t kShift = 1;
constexpr uint8_t kCtrl = 2;

constexpr uint16_t kNoKeyScan = 0xFFFF;

// A column the key has no character in (a key of a table with fewer columns, or a
// modifier combination that types nothing).
constexpr char16_t kNone = 0xF000;

enum Column : std::size_t { kPlain, kWithShift, kWithCtrl, kWithShiftCtrl, kColumnCount };

struct KeyRow {
  uint8_t key;
  std::array<char16_t, kColumnCount> types;
};

constexpr KeyRow Keys(uint8_t key, char16_t plain, char16_t shift = kNone, char16_t ctrl = kNone,
                      char16_t shift_ctrl = kNone) {
  return {key, {plain, shift, ctrl, shift_ctrl}};
}

// Table 1: three columns.
constexpr KeyRow kThreeColumnKeys[] = {
    //    key         plain    Shift    Ctrl
    Keys(kVkOem4,     u'[',    u'{',    0x1B),
    Keys(kVkOem6,     u']',    u'}',    0x1D),
    Keys(kVkOem5,     u'\\',   u'|',    0x1C),
    Keys(kVkOem102,   u'\\',   u'|',    0x1C),
    Keys(kVkBack,     u'\b',   u'\b',   0x7F),
    Keys(kVkEscape,   0x1B,    0x1B,    0x1B),
    Keys(kVkReturn,   u'\r',   u'\r',   u'\n'),
    Keys(kVkSpace,    u' ',    u' ',    u' '),
    Keys(kVkCancel,   0x03,    0x03,    0x03),
};

// Table 2: four columns.
constexpr KeyRow kFourColumnKeys[] = {
    //    key          plain   Shift   Ctrl    Shift+Ctrl
    Keys('2',          u'2',   u'@',   kNone,  0x00),
    Keys('6',          u'6',   u'^',   kNone,  0x1E),
    Keys(kVkOemMinus,  u'-',   u'_',   kNone,  0x1F),
};

// Table 3: two columns, in the layout's order (number row, then the letter rows).
constexpr KeyRow kTwoColumnKeys[] = {
    //    key            plain   Shift
    Keys(kVkOem3,        u'`',   u'~'),
    Keys('1',            u'1',   u'!'),
    Keys('3',            u'3',   u'#'),
    Keys('4',            u'4',   u'$'),
    Keys('5',            u'5',   u'%'),
    Keys('7',            u'7',   u'&'),
    Keys('8',            u'8',   u'*'),
    Keys('9',            u'9',   u'('),
    Keys('0',            u'0',   u')'),
    Keys(kVkOemPlus,     u'=',   u'+'),
    Keys('Q',            u'q',   u'Q'),
    Keys('W',            u'w',   u'W'),
    Keys('E',            u'e',   u'E'),
    Keys('R',            u'r',   u'R'),
    Keys('T',            u't',   u'T'),
    Keys('Y',            u'y',   u'Y'),
    Keys('U',            u'u',   u'U'),
    Keys('I',            u'i',   u'I'),
    Keys('O',            u'o',   u'O'),
    Keys('P',            u'p',   u'P'),
    Keys('A',            u'a',   u'A'),
    Keys('S',            u's',   u'S'),
    Keys('D',            u'd',   u'D'),
    Keys('F',            u'f',   u'F'),
    Keys('G',            u'g',   u'G'),
    Keys('H',            u'h',   u'H'),
    Keys('J',            u'j',   u'J'),
    Keys('K',            u'k',   u'K'),
    Keys('L',            u'l',   u'L'),
    Keys(kVkOem1,        u';',   u':'),
    Keys(kVkOem7,        u'\'',  u'"'),
    Keys('Z',            u'z',   u'Z'),
    Keys('X',            u'x',   u'X'),
    Keys('C',            u'c',   u'C'),
    Keys('V',            u'v',   u'V'),
    Keys('B',            u'b',   u'B'),
    Keys('N',            u'n',   u'N'),
    Keys('M',            u'm',   u'M'),
    Keys(kVkOemComma,    u',',   u'<'),
    Keys(kVkOemPeriod,   u'.',   u'>'),
    Keys(kVkOem2,        u'/',   u'?'),
    Keys(kVkDecimal,     u'.',   u'.'),
    Keys(kVkTab,         u'\t',  u'\t'),
    Keys(kVkAdd,         u'+',   u'+'),
    Keys(kVkDivide,      u'/',   u'/'),
    Keys(kVkMultiply,    u'*',   u'*'),
    Keys(kVkSubtract,    u'-',   u'-'),
};

// Table 4: one column, the keypad digits.
constexpr KeyRow kOneColumnKeys[] = {
    Keys(kVkNumpad0 + 0, u'0'), Keys(kVkNumpad0 + 1, u'1'), Keys(kVkNumpad0 + 2, u'2'),
    Keys(kVkNumpad0 + 3, u'3'), Keys(kVkNumpad0 + 4, u'4'), Keys(kVkNumpad0 + 5, u'5'),
    Keys(kVkNumpad0 + 6, u'6'), Keys(kVkNumpad0 + 7, u'7'), Keys(kVkNumpad0 + 8, u'8'),
    Keys(kVkNumpad0 + 9, u'9'),
};

constexpr std::span<const KeyRow> kSearchOrder[] = {
    kThreeColumnKeys, kFourColumnKeys, kTwoColumnKeys, kOneColumnKeys};

constexpr uint16_t KeyScanResult(uint8_t key, uint8_t shift_state) {
  return static_cast<uint16_t>(shift_state << 8 | key);
}

constexpr uint16_t SearchKeyScan(char16_t character) {
  uint16_t first_ctrl_match = kNoKeyScan;
  uint16_t first_shift_ctrl_match = kNoKeyScan;
  for (std::span<const KeyRow> table : kSearchOrder) {
    for (const KeyRow& row : table) {
      if (row.types[kPlain] == character) return KeyScanResult(row.key, 0);
      if (row.types[kWithShift] == character) return KeyScanResult(row.key, kShift);
      if (row.types[kWithCtrl] == character && first_ctrl_match == kNoKeyScan) {
        first_ctrl_match = KeyScanResult(row.key, kCtrl);
      }
      if (row.types[kWithShiftCtrl] == character && first_shift_ctrl_match == kNoKeyScan) {
        first_shift_ctrl_match = KeyScanResult(row.key, kShift | kCtrl);
      }
    }
  }
  if (first_ctrl_match != kNoKeyScan) return first_ctrl_match;
  if (first_shift_ctrl_match != kNoKeyScan) return first_shift_ctrl_match;
  if (character < 0x20) return KeyScanResult(static_cast<uint8_t>(character + 0x40), kCtrl);
  return kNoKeyScan;
}

constexpr std::array<uint16_t, 256> BuildKeyScanTable() {
  std::array<uint16_t, 256> table{};
  for (std::size_t byte = 0; byte < table.size(); ++byte) {
    // Searching for the byte's own value is exact for ASCII and, above it, finds nothing
    // just as the byte's Windows-1252 character would: the tables hold ASCII only.
    table[byte] = SearchKeyScan(static_cast<char16_t>(byte));
  }
  return table;
}

constexpr std::array<uint16_t, 256> kKeyScanTable = BuildKeyScanTable();

}  // namespace

uint16_t UsLayoutKeyScan(uint8_t character) { return kKeyScanTable[character]; }

KeyMapping UsLayoutMap(uint8_t character) {
  const uint16_t scan = UsLayoutKeyScan(character);
  if (scan == kNoKeyScan) return {kNoKey, kNoKey};
  return {static_cast<uint8_t>(scan & 0xFF), static_cast<uint8_t>(scan >> 8)};
}

void FillUsLayout(LayoutKeymap& keymap) {
  keymap.Clear();
  keymap.SetModifierKey(kModifierShift, kVirtualKeyShift);
  keymap.SetModifierKey(kModifierCtrl, kVirtualKeyControl);
  keymap.SetModifierKey(kModifierAlt, kVirtualKeyAlt);
  for (char32_t character = 0; character < 0x80; ++character) {
    if (IsAsciiControl(character)) continue;
    const KeyMapping key = UsLayoutMap(static_cast<uint8_t>(character));
    if (key.key_code == kNoKey || key.shift_state > kShiftStateShift) continue;
    // Caps Lock turns the letter keys' two cases round and leaves every other key alone.
    char32_t with_caps_lock = character;
    if (character >= 'a' && character <= 'z') with_caps_lock = character - 'a' + 'A';
    if (character >= 'A' && character <= 'Z') with_caps_lock = character - 'A' + 'a';
    keymap.Add(key.key_code, key.shift_state, character, with_caps_lock);
  }
  AddControlCharacterKeys(keymap, kVirtualKeyControlKeys);
}

}  // namespace lintrel::platform
