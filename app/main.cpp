// Entry points of the plug-in (assembly follows).
#include "app/OruApp.h"

#define KELDRA_EXPORT extern "C" __attribute__((visibility("default")))

KELDRA_EXPORT OruApp::IOruApp* createOruApp() { return nullptr; }

KELDRA_EXPORT void deleteOruApp(OruApp::IOruApp* app) { delete app; }
