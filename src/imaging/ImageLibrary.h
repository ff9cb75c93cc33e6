// Loading of the imaging library's modules at start-up.
#pragma once

// Loads the imaging library's modules from the executable's folder and resolves their entry
// points. Returns false when a module or entry point is missing; the operations that need it
// then fail where they are used. Loading happens once per process; later calls return the
// first result.
bool LoadImageLibrary();
