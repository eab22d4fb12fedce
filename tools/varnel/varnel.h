// Varnel's authoring library: everything the `varnel` tool does, for
// installers that write the uninstall payload themselves at install time.
//
// Typical use in an installer, once the files are in place:
//
//     varnel::Manifest m;                      // English texts, code page 1252
//     m.texts.texts[0] = "Varnel Demo";        // caption
//     m.files.push_back({".\\bin", "", 0});    // the folder first ...
//     m.files.push_back({".\\bin", "demo.exe", FE_CHECKINUSE}); // ... then its files
//     m.registry.push_back({varnel::ROOT_HKCU, "Software\\Varnel Demo", std::nullopt});
//     for (const varnel::Diagnostic& d : varnel::checkManifest(m))
//         log(varnel::formatDiagnostic(d));
//     // The bare stub: uninst.exe, or uninst-user.exe for a product per user.
//     varnel::Scope scope = varnel::productScope(m);
//     varnel::Bytes stub = varnel::readInput(stubFolder + varnel::stubFileName(scope));
//     varnel::writeOutput(installDir + "uninst.exe", varnel::buildUninstaller(stub, m), true);
//
// All strings are UTF-8 and are converted to the manifest's code page when
// packed. The pieces:
//
// - manifest.h: the model (Manifest, TextSet, the record form) and its JSON
//   form (parseManifest, readManifestFile, manifestToJson, formatManifest).
// - check.h: checkManifest (errors and warnings, one check per section),
//   formatDiagnostic, hasErrors, summarizeManifest.
// - build.h: buildPayload (runs the checks, throws PackError on errors),
//   buildUninstaller (stub + payload, locator patched; refuses a stub of the
//   other scope), stubProblem.
// - dump.h: manifestFromUninstaller, the way back from an uninstaller to its
//   manifest (throws PayloadDamage, from payload_decoder.h).
// - register.h: registrationValues, the product's entry in Programs and
//   Features for the installer to write (regFile, registrationJson).
// - scan.h: scanTree, the file list of a staged product folder.
// - scope.h: per machine or per user: productScope, the stub of each
//   (stubFileName, stubScope) and what a product per user may reach.
// - fileio.h: reading with a cap and "-", writing whole or not at all.
// - normalize.h: composed (NFC) names.
// - texts.h: the text names 0 to 15 and the built-in languages.
// - codepage.h: UTF-8 to ANSI code page conversion and back.
// - payload_writer.h / payload_decoder.h: the bytes of the format, and the
//   entries that manifests and payloads share (FileItem, GroupItem,
//   RegistryItem, OptionsItem).
#pragma once

#include "build.h"
#include "check.h"
#include "codepage.h"
#include "dump.h"
#include "fileio.h"
#include "manifest.h"
#include "normalize.h"
#include "payload_decoder.h"
#include "payload_writer.h"
#include "register.h"
#include "scan.h"
#include "scope.h"
#include "texts.h"
