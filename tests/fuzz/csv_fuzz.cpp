// libFuzzer target: load-csv over random text by its native splitter and again
// by its grammar (the splitter made to decline), which must give the same value
// or error; then records made from the text through to-csv, by its native joiner
// and by to-csv-line, which must write the same text, and back through
// load-csv, which must give the records again. Built by the TEV_FUZZ option (clang).
//
// Byte 0: bit 0 runs the native ways again with the collector at every
// allocation, which must change nothing; bits 1-2 pick the
// delimiter (comma, semicolon, "::", tab); bit 3 /trim; bit 4 the single quote
// instead of the double one; bits 5-6 the shape (lines, /flat, /header,
// /as-records). The other bytes are the text, read as UTF-8 (bytes that are not
// UTF-8 end the run); for the records, ^B ends a record and ^A a field.
#include <cstddef>
#include <cstdint>
#include <string>
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_library();  // load-csv and to-csv are library code
    fuzz::run_setup_source(R"~(
        csv: context? first find body-of :load-csv 'quote-char
        native-split: :csv/split*
        native-join: :csv/join*
        fail: func [message [string!]] [
            print message
            do make error! message
        ]
        ; mold/all tells apart what equal? does not (case, new-line marks)
        outcome: func [code [block!] /local r] [
            r: try code
            mold/all either error? :r [reduce [r/id r/arg1]] [:r]
        ]
        ; the native outcome, when the Tev code gives the same
        both-ways: func [code [block!] what [string!] /local native tev] [
            native: outcome code
            csv/split*: func [t d q dq tr ie st] [none]
            csv/join*: func [o r s d q qc] [false]
            tev: outcome code
            csv/split*: :native-split
            csv/join*: :native-join
            unless native == tev [
                fail rejoin [what " natively gave " native " where the Tev code gave " tev]
            ]
            native
        ]
        cut: func [text [string!] mark [char!] /local parts pos] [
            parts: copy []
            while [pos: find text mark] [
                append parts copy/part text pos
                text: next pos
            ]
            append parts copy text
        ]
        ; records of equal length (short ones padded with empty fields)
        records-of: func [text [string!] /local records longest] [
            records: copy []
            longest: 0
            foreach part cut text #"^B" [
                append/only records cut part #"^A"
                longest: max longest length? last records
            ]
            foreach record records [
                loop longest - length? record [append record copy ""]
            ]
            records
        ]
        ; load-code, join-code and their results stay for recheck-csv
        check-csv: func [text [string!] delimiter quote refinements [block!] /local records written] [
            csv/double-quote: append to string! quote quote
            load-code: compose [
                (to path! append copy [load-csv with quote] refinements) (text) (delimiter) (quote)
            ]
            load-result: both-ways load-code "load-csv"
            records: records-of text
            join-code: compose/only [to-csv/with/quote (records) (delimiter) (quote)]
            join-result: both-ways join-code "to-csv"
            ; a last line of one empty field is a bare line end, which load-csv skips
            if [""] = last records [exit]
            written: to-csv/with/quote records delimiter quote
            unless (mold/all records) == mold/all load-csv/with/quote written delimiter quote [
                fail rejoin ["the records came back changed from " mold written]
            ]
        ]
        ; the native ways again, run with the collector moving everything at each allocation
        recheck-csv: does [
            unless load-result == outcome load-code [fail "load-csv gave another value under torture"]
            unless join-result == outcome join-code [fail "to-csv gave another text under torture"]
        ]
    )~");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::OptionsInput in;
    if (!fuzz::split_options(data, size, &in)) return 0;
    // Text that is not UTF-8 never reaches load-csv: a string cannot hold it.
    if (!fuzz::set_global_text("text", in.data, in.size)) return 0;
    static const char* const delimiters[] = {"#\",\"", "#\";\"", "\"::\"", "#\"^-\""};
    static const char* const shapes[] = {"", "flat", "header", "as-records"};
    std::string call = "check-csv text ";
    call += delimiters[(in.options >> 1) & 3];
    call += (in.options & 0x10) ? " #\"'\" [" : " #\"^\"\" [";
    if (in.options & 8) call += "trim ";
    call += shapes[(in.options >> 5) & 3];
    call += "]";
    // load-csv returns its errors and both ways raise the same ones: only the
    // checks' own errors are findings. The collector at every allocation is
    // slow: only the native ways run again under it, not the grammar.
    if (fuzz::run_source_raised(call.c_str(), false)) fuzz::finding("a check failed (printed above)");
    if ((in.options & 1) && fuzz::run_source_raised("recheck-csv", true)) fuzz::finding("a check failed (printed above)");
    return 0;
}
