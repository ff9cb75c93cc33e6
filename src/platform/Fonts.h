// Font names that the program's settings carry from their original platform ("ＭＳ Ｐゴシック")
// are resolved to a metric-compatible Japanese font installed here.
#pragma once

namespace Fonts {

// Registers the substitutions; call once after the application object exists.
void InstallSubstitutions();

} // namespace Fonts
