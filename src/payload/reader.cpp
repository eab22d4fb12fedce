// Reads the payload appended to the executable into the uninstall state.
#include "../base/log.h"
#include "../base/seam.h"
#include "../base/state.h"
#include "payload.h"

// Read-only data: the build patches its offset in the file, so it is read
// through a volatile pointer, never folded as the constant it was compiled as.
extern "C" __attribute__((used)) const unsigned char payloadLocator[PAYLOAD_LOCATOR_SIZE] = {
    'w', 'w', 'g', 'T', ')', 'H', 0, 0, 0, 0};

uint32_t payloadOffset() {
    const volatile unsigned char* field = payloadLocator + PAYLOAD_MARKER_LENGTH;
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | field[i];
    return value;
}

static void showPayloadError(int error) {
    char* message;
    if (!allocZeroedAs(FORMAT_BUFFER_SIZE, &message))
        return;
    formatString(message, error, state.modulePath);
    showMessage(message, MB_OK | MB_ICONINFORMATION);
    freeAndClearAs(&message);
}

// Reads everything from the payload offset to the end of the file in one
// go, and parses it there.
static int readFromFile(HANDLE file, uint32_t offset) {
    uint32_t fileSize = W32(GetFileSize, file, nullptr);
    if (fileSize == INVALID_FILE_SIZE || offset > fileSize)
        return PAYLOAD_ERR_HEADER;
    uint32_t size = fileSize - offset;
    unsigned char* bytes;
    if (!allocRawAs(size, &bytes))
        return PAYLOAD_ERR_MEMORY;
    int error = PAYLOAD_ERR_HEADER;
    fileSeek(file, offset);
    if (!readExact(file, bytes, size))
        error = readPayloadChain(bytes, size, &state);
    freeAndClearAs(&bytes);
    return error;
}

bool loadPayload() {
    uint32_t offset = payloadOffset();
    int error = -1; // no payload, or the executable cannot be read: no message
    HANDLE file = INVALID_HANDLE_VALUE;
    if (offset && W32(GetModuleFileNameA, state.instance, state.modulePath, PATH_BUFFER_SIZE)) {
        state.modulePath[PATH_BUFFER_SIZE - 1] = 0; // older systems leave a cut path unterminated
        file = openExistingFile(state.modulePath, FILE_MODE_READ);
    }
    if (file != INVALID_HANDLE_VALUE) {
        error = readFromFile(file, offset);
        closeFile(file);
    }
    if (error == 0)
        return true;
    logEvent(LOG_ERROR, LOG_PAYLOAD_ERROR, state.modulePath, nullptr, error);
    if (error > 0)
        showPayloadError(error);
    return false;
}

void freePayload() {
    freePayloadContents(&state);
}

uint32_t optionFlags() {
    return readOptionFlags(&state);
}

const char* optionText(uint32_t fieldOffset) {
    return readOptionText(&state, fieldOffset);
}
