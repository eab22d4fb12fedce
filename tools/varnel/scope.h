// Per machine or per user: which stub a product's uninstaller is built on,
// how a stub says which it is, and what a product installed per user may
// reach.
//
// uninst.exe asks for administrator rights (its manifest's
// requestedExecutionLevel is requireAdministrator); uninst-user.exe runs with
// the rights of whoever starts it (asInvoker). A product installed per user
// must be removed by the second: its folders are the user's, and any program
// the user runs can change them, swap a folder for a link, or replace the
// pre-uninstall program or a COM server, and so act with administrator rights
// through an elevated uninstaller. Such a product must then keep to the
// user's own space: HKCU, and folders in the user's profile.
#pragma once

#include <optional>
#include <string>

#include "manifest.h"

namespace varnel {

// The scope of a manifest: its "scope" when given, else per user when its
// register section is under HKCU, else per machine.
Scope productScope(const Manifest& manifest);
const char* scopeName(Scope scope); // "machine", "user"

// The stub of a scope ("uninst.exe", "uninst-user.exe") and the
// requestedExecutionLevel of its manifest ("requireAdministrator", "asInvoker").
const char* stubFileName(Scope scope);
const char* executionLevel(Scope scope);

// The requestedExecutionLevel that an executable's manifest (its RT_MANIFEST
// resource 1) asks for, read from its bytes alone and never outside them;
// nothing when it has no such resource or the resource names no level.
std::optional<std::string> requestedExecutionLevel(const Bytes& executable);
// The scope of a stub by that level; nothing when it is neither stub's.
std::optional<Scope> stubScope(const Bytes& executable);

// Why `stub` cannot serve a product of `scope`, if it cannot: for one per
// user, any stub whose manifest does not ask for asInvoker (one with no level
// at all may be raised to administrator rights by its name alone); for one
// per machine, a stub that asks for asInvoker.
std::optional<std::string> stubScopeProblem(const Bytes& stub, Scope scope);

// Whether a folder macro (MACRO_, folder_names.h) names a folder of the user
// who runs the uninstaller: their profile and the folders in it, their temp
// folder, and the installation folder. The Windows, System, Program Files and
// Common Files folders and the all-users folders are the machine's.
bool isUserFolderMacro(int macro);

// A full path in its canonical text (tidyPath), or as it stands when it has
// none or does not fit.
std::string canonicalText(const std::string& path);

// `text` with each folder macro token that names no folder left out, as the
// uninstaller replaces such a token by nothing; the path it then acts on.
std::string withoutUnknownMacros(const std::string& text);

// Why a product installed per user may not remove what `path` names, if it
// may not (its tokens that name no folder left out first): a folder macro of the machine's folders
// in it, or a full path outside a user's profile as Windows lays them out ("X:\Users\NAME\..." or
// "X:\Documents and Settings\NAME\...", NAME none of the shared profiles).
// A path that is neither (below the installation folder) is the user's.
std::optional<std::string> outsideUserSpace(const std::string& path);

// Whether `path` (its tokens that name no folder left out first) lies in the
// folders of the one user who runs the uninstaller, and why: it starts with a folder macro of the
// user's (isUserFolderMacro) other than the installation folder, which is the machine's for a
// product per machine, or it is a full path in a user's profile (as outsideUserSpace reads one).
// Any program of that user can replace what lies there.
std::optional<std::string> userFolder(const std::string& path);

} // namespace varnel
