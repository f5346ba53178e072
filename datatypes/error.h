// error!: object values with ten fixed fields made from the error catalogue.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// Field positions in every error object.
enum ErrorField : uint32_t {
    ERR_FIELD_CODE = 0, ERR_FIELD_TYPE, ERR_FIELD_ID, ERR_FIELD_ARG1, ERR_FIELD_ARG2, ERR_FIELD_ARG3,
    ERR_FIELD_NEAR, ERR_FIELD_WHERE, ERR_FIELD_STACK, ERR_FIELD_FILES, ERR_FIELD_COUNT
};

// Start-up: builds the catalogue object from runtime/error_catalog.def and the
// error prototype. Until it has run, raising records only the code.
void errors_init();
bool errors_ready();
// The catalogue object (system/catalog/errors).
Cell* error_catalog();

// Pushes a new error of the catalogue entry `code` with its arguments (absent
// ones none) and `near` set to the current evaluation position.
Cell* error_push_from_code(uint32_t code, const Cell* arg1, const Cell* arg2, const Cell* arg3);
Cell* error_field(const Cell* error, ErrorField field);
// The runtime's error hooks (runtime/errors.h): the error to raise, or nullptr
// before the catalogue is loaded; an error's catalogue code, or -1.
Cell* error_make_for_raise(uint32_t code, const Cell* arg1, const Cell* arg2, const Cell* arg3);
int32_t error_code_of(const Cell* error);
// True when the catalogue has an entry for the code (type position * 100 + id position).
bool error_code_known(uint32_t code);
// Appends the report ("*** Caption: message\n*** Where: ...\n*** Near : ...").
int32_t error_form_report(const Cell* error, Cell* out, int32_t limit);

}  // namespace tev
