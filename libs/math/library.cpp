// The math library's table: its commands, PI, and the seeding of both random generators.
#include <cstdlib>
#include <ctime>

#include "base/support.h"
#include "libs/libraries.h"
#include "libs/math/commands.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"Abs", cmd::Abs},         {"Sin", cmd::Sin},
    {"Cos", cmd::Cos},         {"Tan", cmd::Tan},
    {"ASin", cmd::ASin},       {"ACos", cmd::ACos},
    {"ATan", cmd::ATan},       {"ATan2", cmd::ATan2},
    {"Ceil", cmd::Ceil},       {"Floor", cmd::Floor},
    {"Mod", cmd::Mod},         {"FrExp", cmd::FrExp},
    {"LdExp", cmd::LdExp},     {"Sqrt", cmd::Sqrt},
    {"Min", cmd::Min},         {"Max", cmd::Max},
    {"Log", cmd::Log},         {"Ld", cmd::Ld},
    {"Ln", cmd::Ln},           {"Exp", cmd::Exp},
    {"Deg", cmd::Deg},         {"Pow", cmd::Pow},
    {"Rad", cmd::Rad},         {"Rnd", cmd::Rnd},
    {"RndF", cmd::RndF},       {"Add", cmd::Add},
    {"Sub", cmd::Sub},         {"Div", cmd::Div},
    {"Mul", cmd::Mul},         {"Round", cmd::Round},
    {"Int", cmd::Int},         {"Frac", cmd::Frac},
    {"Shr", cmd::Shr},         {"Shl", cmd::Shl},
    {"Rt", cmd::Rt},           {"Wrap", cmd::Wrap},
    {"Limit", cmd::Limit},     {"BitSet", cmd::BitSet},
    {"BitTest", cmd::BitTest}, {"BitClear", cmd::BitClear},
    {"BitXor", cmd::BitXor},   {"BitComplement", cmd::BitComplement},
    {"Sgn", cmd::Sgn},         {"Sar", cmd::Sar},
    {"Ror", cmd::Ror},         {"Rol", cmd::Rol},
    {"Cast", cmd::Cast},       {"Hypot", cmd::Hypot},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"PI", nullptr, 3.141592653589793},
    {nullptr, nullptr, 0},
};

// Both generators start from the time, so runs differ.
int32_t Open(qvScriptState*) {
  auto now = static_cast<uint32_t>(std::time(nullptr));
  std::srand(now);
  SeedRandom48(now);
  return 0;
}

}  // namespace

const qvLibrary kMathLibrary{"math", kCommands, kConstants, Open};

}  // namespace qv
