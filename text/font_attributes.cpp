// GetAttribute's answers about fonts: a FONT object's, and any font's that a display, a text
// object or a layer draws with.
#include "base/errors.h"
#include "core/attribute_table.h"
#include "text/fonts.h"

namespace qv {

namespace {

int32_t FontObjectAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvFontObject* object = nullptr;
  int32_t code = FindFont(q.id, &object);
  if (code != 0) return code;
  return AnswerFontAttribute(object->font, q.attribute, out);
}

const qvAttrKind kRows[] = {
    {kObjectFont, qvAttrIdForm::kObject, FontObjectAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

}  // namespace

int32_t AnswerFontAttribute(const qvFont* font, int32_t attribute, qvAttrAnswer* out) {
  if (font == nullptr) font = GetDefaultFont();
  if (font == nullptr || !attr::IsFontAttribute(attribute)) return ERR_UNKNOWNATTR;
  switch (attribute) {
    case attr::kFontAscender:
      out->Number(font->baseline);
      break;
    case attr::kFontDescender:
      out->Number(font->height - font->baseline);
      break;
    case attr::kFontName:
      out->Text(font->loadedName.c_str());
      break;
    case attr::kFontSize:
      out->Number(font->size);
      break;
    case attr::kFontScalable:
      out->Number(font->scalable);
      break;
    default:
      out->Number(font->antialias);
      break;
  }
  return 0;
}

int32_t RegisterFontAttributes() { return RegisterAttributeKinds(kRows); }

}  // namespace qv
