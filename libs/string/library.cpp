// The string library's table, in its fixed order.
#include "libs/libraries.h"
#include "libs/string/commands.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"LowerStr", cmd::LowerStr},
    {"UpperStr", cmd::UpperStr},
    {"Val", cmd::Val},
    {"StrStr", cmd::StrStr},
    {"UnrightStr", cmd::UnrightStr},
    {"UnleftStr", cmd::UnleftStr},
    {"Chr", cmd::Chr},
    {"MidStr", cmd::MidStr},
    {"RightStr", cmd::RightStr},
    {"LeftStr", cmd::LeftStr},
    {"FindStr", cmd::FindStr},
    {"AddStr", cmd::AddStr},
    {"HexStr", cmd::HexStr},
    {"Asc", cmd::Asc},
    {"StrLen", cmd::StrLen},
    {"ReplaceStr", cmd::ReplaceStr},
    {"BinStr", cmd::BinStr},
    {"SplitStr", cmd::SplitStr},
    {"PadNum", cmd::PadNum},
    {"StrToArray", cmd::StrToArray},
    {"TrimStr", cmd::TrimStr},
    {"ToString", cmd::ToString},
    {"ToNumber", cmd::ToNumber},
    {"UnmidStr", cmd::UnmidStr},
    {"CountStr", cmd::CountStr},
    {"InsertStr", cmd::InsertStr},
    {"RepeatStr", cmd::RepeatStr},
    {"MD5Str", cmd::MD5Str},
    {"CRC32Str", cmd::CRC32Str},
    {"FormatStr", cmd::FormatStr},
    {"PatternFindStr", cmd::PatternFindStr},
    {"PatternReplaceStr", cmd::PatternReplaceStr},
    {"Eval", cmd::Eval},
    {nullptr, nullptr},
};

}  // namespace

const qvLibrary kStringLibrary{"string", kCommands, nullptr, nullptr};

}  // namespace qv
