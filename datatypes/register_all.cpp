// The start-up registration of every datatype, parents before their children, in the fixed order.
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/file.h"
#include "datatypes/path.h"
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "datatypes/word.h"

namespace tev {

void datatype_init();
void unset_init();
void none_init();
void logic_init();
void series_init();
void block_init();
void string_init();
void integer_init();
void symbol_init();
void context_datatype_init();
void char_init();
void native_init();
void function_init();
void paren_init();
void object_init();
void triple_init();
void float_init();
void error_init();
void time_init();
void vector_init();
void map_init();
void hash_init();
void tag_init();
void email_init();
void handle_init();
void ref_init();
void pair_init();
void percent_init();
void tuple_init();
void date_init();
void money_init();
void point2d_init();
void point3d_init();
void port_init();
void image_init();

// Types not built yet keep empty rows; their units add their call at their
// place in this order: binary! before integer!; native! .. routine! before
// paren!; url!, file! between issue! and object!;
// typeset! .. tuple! before time!; tag! .. image! after it.
void register_all_datatypes() {
    datatype_init();
    unset_init();
    none_init();
    logic_init();
    series_init();
    block_init();
    string_init();
    binary_init();
    integer_init();
    symbol_init();
    context_datatype_init();
    word_init();
    lit_word_init();
    set_word_init();
    get_word_init();
    refinement_init();
    char_init();
    native_init();
    function_init();
    path_init();
    lit_path_init();
    set_path_init();
    get_path_init();
    paren_init();
    issue_init();
    url_init();
    file_init();
    object_init();
    bitset_init();
    triple_init();
    float_init();
    typeset_init();
    error_init();
    vector_init();
    map_init();
    hash_init();
    pair_init();
    percent_init();
    tuple_init();
    time_init();
    tag_init();
    email_init();
    handle_init();
    date_init();
    port_init();
    money_init();
    ref_init();
    point2d_init();
    point3d_init();
    image_init();
}

}  // namespace tev
