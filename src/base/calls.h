// clang-format off
// Every Win32 call the program makes through the seam, one row each, in the
// style of a system-call table. Included by seam.h with CALL defined.
//
// CALL(library, name, failure, answer):
//   library  the DLL that exports it. KERNEL32 is the one library imported;
//            every other one is loaded from the System folder when the
//            program starts, and its functions looked up (resolveLateCalls):
//            the program stops when one is missing, except the _OPTIONAL
//            rows' (missing on older systems), whose calls then fail with
//            their failure value;
//   failure  what it returns when it fails (see the kinds in seam.h):
//            ZERO (0, FALSE or null), INVALID_HANDLE, ALL_ONES (0xFFFFFFFF),
//            ERROR_RESULT (the error code itself), HRESULT_ERROR (the error
//            as an HRESULT), SMALL_RESULT (a value of 32 or less), NOTHING
//            (no result: the call is simply not made);
//   answer   where a test's answer rule puts its text (seam.h), or NO_ANSWER.
// The comment says what a failure means to the program.

// Files and folders.
CALL(KERNEL32, CreateFileA, INVALID_HANDLE, NO_ANSWER)        // cannot open or make the file: missing, in use, refused
CALL(KERNEL32, ReadFile, ZERO, NO_ANSWER)                     // the bytes cannot be read: the reader takes the payload as cut short
CALL(KERNEL32, WriteFile, ZERO, NO_ANSWER)                    // not written whole: a batch file is then not run
CALL(KERNEL32, SetFilePointer, ALL_ONES, NO_ANSWER)           // the position is unknown: the next read fails
CALL(KERNEL32, GetFileSize, ALL_ONES, NO_ANSWER)              // the size is unknown (INVALID_FILE_SIZE): nothing is read
CALL(KERNEL32, CloseHandle, ZERO, NO_ANSWER)                  // the handle was not open; nothing else follows from it
CALL(KERNEL32, CreateFileMappingA, ZERO, NO_ANSWER)           // the font cannot be mapped: it has no name
CALL(KERNEL32, MapViewOfFile, ZERO, NO_ANSWER)                // the same
CALL(KERNEL32, UnmapViewOfFile, ZERO, NO_ANSWER)              // the view stays until the program ends
CALL(KERNEL32, DeleteFileA, ZERO, NO_ANSWER)                  // the file stays: missing, in use, read-only or refused
CALL(KERNEL32, RemoveDirectoryA, ZERO, NO_ANSWER)             // the folder stays: not empty, missing, in use or refused
CALL(KERNEL32, GetFileAttributesA, ALL_ONES, NO_ANSWER)       // INVALID_FILE_ATTRIBUTES: missing, or access refused
CALL(KERNEL32, SetFileAttributesA, ZERO, NO_ANSWER)           // the read-only attribute stays as it was
CALL(KERNEL32, FindFirstFileA, INVALID_HANDLE, NO_ANSWER)     // nothing found, or the folder cannot be read
CALL(KERNEL32, FindNextFileA, ZERO, NO_ANSWER)                // no more entries (ERROR_NO_MORE_FILES), or a read error
CALL(KERNEL32, FindClose, ZERO, NO_ANSWER)                    // the search was not open
CALL(KERNEL32, GetCurrentDirectoryA, ZERO, NO_ANSWER)         // the current directory is unknown
CALL(KERNEL32, SetCurrentDirectoryA, ZERO, NO_ANSWER)         // the folder cannot be entered: missing or refused
CALL(KERNEL32, GetShortPathNameA, ZERO, NO_ANSWER)            // no short form: the path stays long
CALL(KERNEL32, GetModuleFileNameA, ZERO, NO_ANSWER)           // the program's own path is unknown
CALL(KERNEL32, GetWindowsDirectoryA, ZERO, TEXT_IN_ARG0)      // the Windows folder is unknown
CALL(KERNEL32, GetSystemDirectoryA, ZERO, TEXT_IN_ARG0)       // the System folder is unknown
CALL(KERNEL32, GetTempPathA, ZERO, TEXT_IN_ARG1)              // the temporary folder is unknown (or too long)
CALL(KERNEL32_OPTIONAL, GetSystemWow64DirectoryA, ZERO, TEXT_IN_ARG0) // no 32-bit System folder of a 64-bit system (or no such call)
CALL(KERNEL32_OPTIONAL, GetLongPathNameA, ZERO, NO_ANSWER)        // no long form (missing path, or no such call): the path stays
CALL(KERNEL32, GetFileInformationByHandle, ZERO, NO_ANSWER)   // the file's identity is unknown: it is compared by its path
CALL(KERNEL32, GetLastError, NOTHING, NO_ANSWER)              // cannot fail; a failed one would say 0, no error
CALL(KERNEL32, MultiByteToWideChar, ZERO, NO_ANSWER)          // the text cannot be read in its code page
CALL(KERNEL32, WideCharToMultiByte, ZERO, NO_ANSWER)          // the text does not fit in the other code page
// Processes and libraries.
CALL(KERNEL32, CreateProcessA, ZERO, NO_ANSWER)               // the program did not start
CALL(KERNEL32, GetExitCodeProcess, ZERO, NO_ANSWER)           // the process's state is unknown: the wait ends
CALL(KERNEL32, WaitForSingleObject, ALL_ONES, NO_ANSWER)      // WAIT_FAILED: the process counts as ended
CALL(KERNEL32, TerminateProcess, ZERO, NO_ANSWER)             // the process goes on: only its handle is closed
CALL(KERNEL32, Sleep, NOTHING, NO_ANSWER)                     // cannot fail; failing it skips the pause
CALL(KERNEL32, SetErrorMode, ZERO, NO_ANSWER)                 // gives the previous mode; 0 is a mode too
CALL(KERNEL32, LoadLibraryA, ZERO, NO_ANSWER)                 // the library cannot be loaded
CALL(KERNEL32, GetProcAddress, ZERO, NO_ANSWER)               // the library lacks the function
CALL(KERNEL32, FreeLibrary, ZERO, NO_ANSWER)                  // the library stays loaded
CALL(KERNEL32, WinExec, SMALL_RESULT, NO_ANSWER)              // 31 or less: the command did not start
// Registry: every call gives its error code.
CALL(ADVAPI32, RegOpenKeyA, ERROR_RESULT, NO_ANSWER)          // the key cannot be opened: missing or refused
CALL(ADVAPI32, RegOpenKeyExA, ERROR_RESULT, NO_ANSWER)        // the same
CALL(ADVAPI32, RegQueryValueA, ERROR_RESULT, NO_ANSWER)       // the default value cannot be read
CALL(ADVAPI32, RegQueryValueExA, ERROR_RESULT, VALUE_DATA)    // the value is missing, or longer than the buffer
CALL(ADVAPI32, RegSetValueExA, ERROR_RESULT, NO_ANSWER)       // the value keeps its old data
CALL(ADVAPI32, RegDeleteValueA, ERROR_RESULT, NO_ANSWER)      // the value stays: missing or refused
CALL(ADVAPI32, RegDeleteKeyA, ERROR_RESULT, NO_ANSWER)        // the key stays: it has sub-keys, or refused
CALL(ADVAPI32, RegEnumKeyExA, ERROR_RESULT, NO_ANSWER)        // no more sub-keys (ERROR_NO_MORE_ITEMS), or refused
CALL(ADVAPI32, RegCloseKey, ERROR_RESULT, NO_ANSWER)          // the key was not open
// The shell.
CALL(SHELL32, SHGetSpecialFolderLocation, HRESULT_ERROR, ITEM_LIST) // the shell has no such folder here
CALL(SHELL32, SHGetPathFromIDListA, ZERO, PATH_OF_ITEM_LIST)  // the folder has no file-system path
CALL(SHELL32, SHGetMalloc, HRESULT_ERROR, NO_ANSWER)          // no allocator: the item list is not freed
CALL(SHELL32, ShellExecuteA, SMALL_RESULT, NO_ANSWER)         // 32 or less: the shell could not open the target
// Fonts and windows.
CALL(GDI32, RemoveFontResourceA, ZERO, NO_ANSWER)             // the font was not loaded in the system
CALL(GDI32, GetStockObject, ZERO, NO_ANSWER)                  // no brush: the window class gets none
CALL(GDI32, GetObjectA, ZERO, NO_ANSWER)                      // the dialog's font cannot be described: it keeps its own
CALL(GDI32, CreateFontIndirectA, ZERO, NO_ANSWER)             // the same
CALL(GDI32, DeleteObject, ZERO, NO_ANSWER)                    // the font stays until the program ends
CALL(USER32, MessageBoxA, ZERO, NO_ANSWER)                    // no box could be shown: each caller takes its default
CALL(USER32, SendMessageA, ZERO, NO_ANSWER)                   // its result is the message's own; 0 when nothing handled it
CALL(USER32, SendMessageTimeoutA, ZERO, NO_ANSWER)            // a window did not answer in time: the others are still told

CALL(USER32, RegisterClassA, ZERO, NO_ANSWER)                 // no window class: the program ends
CALL(USER32, CreateWindowExA, ZERO, NO_ANSWER)                // no main window: the program ends with -1
CALL(USER32, DestroyWindow, ZERO, NO_ANSWER)                  // the window was already gone
CALL(USER32, DefWindowProcA, ZERO, NO_ANSWER)                 // the message's default handling does not happen
CALL(USER32, PostQuitMessage, NOTHING, NO_ANSWER)             // no quit message: the final drain waits for one
CALL(USER32, GetMessageA, ALL_ONES, NO_ANSWER)                // -1: the queue cannot be read; the drain ends
CALL(USER32, PeekMessageA, ZERO, NO_ANSWER)                   // no message waiting
CALL(USER32, TranslateMessage, ZERO, NO_ANSWER)               // the message had no character to make
CALL(USER32, DispatchMessageA, ZERO, NO_ANSWER)               // its result is the window procedure's
CALL(USER32, IsDialogMessageA, ZERO, NO_ANSWER)               // not for the dialog: it goes the usual way
CALL(USER32, GetSystemMetrics, ZERO, NO_ANSWER)               // a screen of 0: the window is placed at 0
CALL(USER32, LoadIconA, ZERO, NO_ANSWER)                      // the window class gets no icon
CALL(USER32, LoadCursorA, ZERO, NO_ANSWER)                    // the window class gets no cursor
CALL(USER32, CreateDialogParamA, ZERO, NO_ANSWER)             // no progress dialog: the removal runs without it
CALL(USER32, DialogBoxParamA, ALL_ONES, NO_ANSWER)            // -1: the question cannot be shown; it counts as No
CALL(USER32, EndDialog, ZERO, NO_ANSWER)                      // the question stays open
CALL(USER32, GetDlgItem, ZERO, NO_ANSWER)                     // the dialog has no such control
CALL(USER32, SetDlgItemTextA, ZERO, NO_ANSWER)                // the control keeps its text
CALL(USER32, SetWindowTextA, ZERO, NO_ANSWER)                 // the window keeps its title
CALL(USER32, SetWindowLongA, ZERO, NO_ANSWER)                 // the dialog's result stays as it was
CALL(USER32, GetWindow, ZERO, NO_ANSWER)                      // no more child windows
// Start-up.
CALL(OLE32, OleInitialize, HRESULT_ERROR, NO_ANSWER)          // OLE is not ready: the shell may not answer
CALL(OLE32, OleUninitialize, NOTHING, NO_ANSWER)              // cannot fail
CALL(COMCTL32, InitCommonControls, NOTHING, NO_ANSWER)        // cannot fail
// The runtime's heap (base/heap.cpp).
CALL(MSVCRT, malloc, ZERO, NO_ANSWER)                         // no memory: the memory routines compact and try once more
CALL(MSVCRT, calloc, ZERO, NO_ANSWER)                         // the same
CALL(MSVCRT, realloc, ZERO, NO_ANSWER)                        // the same; the old block stays
CALL(MSVCRT, free, NOTHING, NO_ANSWER)                        // cannot fail
CALL(MSVCRT, _heapmin, ALL_ONES, NO_ANSWER)                   // -1: the heap keeps its free memory
