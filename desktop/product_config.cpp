#include "desktop/product_config.h"

#include <windows.h>

#include <tinyxml2.h>

#include <cstdio>

#include "launcher/base/client_contract.h"
#include "launcher/base/scoped_resource.h"
#include "launcher/base/text_helpers.h"

namespace launcher {
namespace {

// The field an entry of this name fills, or null for names the launcher does
// not read. Element names are UTF-8; only ASCII letters fold, every other byte
// must match.
std::wstring* FieldNamed(ShortcutNames& names, const char* entryName) {
  if (EqualsIgnoringAsciiCase(entryName, "shortcut_cn")) return &names.shortcut_cn;
  if (EqualsIgnoringAsciiCase(entryName, "shortcut_en")) return &names.shortcut_en;
  if (EqualsIgnoringAsciiCase(entryName, "shortcut_new_cn")) return &names.shortcut_new_cn;
  if (EqualsIgnoringAsciiCase(entryName, "shortcut_new_en")) return &names.shortcut_new_en;
  return nullptr;
}

// An entry's text is its first child when that child is text or CDATA; a
// comment or an element in first place means no text (GetText would look
// past a leading comment).
const char* EntryText(const tinyxml2::XMLElement& entry) {
  const tinyxml2::XMLNode* first = entry.FirstChild();
  const tinyxml2::XMLText* text = first != nullptr ? first->ToText() : nullptr;
  return text != nullptr ? text->Value() : nullptr;
}

}  // namespace

bool ReadProductConfig(ShortcutNames& names, const wchar_t* path) {
  if (path == nullptr || ::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return false;

  // Opened by its wide path: a folder name the ANSI code page cannot spell
  // still reaches the file.
  const ScopedFileStream file(::_wfopen(path, L"rb"));
  if (!file) return false;
  tinyxml2::XMLDocument document;
  if (document.LoadFile(file.Get()) != tinyxml2::XML_SUCCESS || document.Error()) return false;

  const tinyxml2::XMLElement* root = document.FirstChildElement();
  if (root == nullptr) return false;

  for (const tinyxml2::XMLElement* entry = root->FirstChildElement(); entry != nullptr;
       entry = entry->NextSiblingElement()) {
    wchar_t text[kPathBufferSize] = {};
    if (!Utf8ToWide(EntryText(*entry), text)) continue;
    if (std::wstring* field = FieldNamed(names, entry->Name())) *field = text;
  }
  return true;
}

}  // namespace launcher
