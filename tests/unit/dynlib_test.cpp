// Libraries opened on first use: every library the executable loads this
// way opens and keeps one handle, a known function resolves while an
// unknown name answers null, and a table of functions is present only
// when all of its functions were found.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "platform/dynlib.hpp"

namespace {

using namespace qel;
using dynlib::Library;

TEST(Dynlib, EachLibraryOpensOnceAndResolvesAKnownFunction) {
    struct Case {
        Library lib;
        const char* function;
    };
    const Case cases[] = {
        {Library::Curl, "curl_easy_init"},       {Library::Png, "png_image_free"},
        {Library::Jpeg, "jpeg_CreateDecompress"}, {Library::Gif, "DGifOpen"},
        {Library::Tiff, "TIFFClientOpen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        void* first = dynlib::handle(c.lib);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(dynlib::handle(c.lib), first);
        void* address = dynlib::symbol(c.lib, c.function);
        ASSERT_NE(address, nullptr);
        EXPECT_EQ(address, dlsym(first, c.function));
    }
}

TEST(Dynlib, UnknownFunctionNameIsNull) {
    EXPECT_EQ(dynlib::symbol(Library::Png, "png_no_such_function"), nullptr);
    EXPECT_EQ(dynlib::symbol(Library::Tiff, "DGifOpen"), nullptr);
}

using Free = void(void*);

struct CompleteTable {
    Free* image_free;
    Free* free_memory;
    explicit CompleteTable(dynlib::Binder& b) {
        b.bind(image_free, "png_image_free");
        b.bind(free_memory, "png_free");
    }
};

struct TableWithAMissingFunction {
    Free* image_free;
    Free* missing;
    explicit TableWithAMissingFunction(dynlib::Binder& b) {
        b.bind(image_free, "png_image_free");
        b.bind(missing, "png_no_such_function");
    }
};

TEST(Dynlib, TableIsBuiltOnceWhenEveryFunctionIsFound) {
    const CompleteTable* table = dynlib::load<CompleteTable>(Library::Png);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(table->image_free), dynlib::symbol(Library::Png, "png_image_free"));
    EXPECT_EQ(reinterpret_cast<void*>(table->free_memory), dynlib::symbol(Library::Png, "png_free"));
    EXPECT_EQ(dynlib::load<CompleteTable>(Library::Png), table);
}

TEST(Dynlib, TableIsAbsentWhenAFunctionIsMissing) {
    EXPECT_EQ(dynlib::load<TableWithAMissingFunction>(Library::Png), nullptr);
    dynlib::Binder binder(Library::Png);
    Free* found = nullptr;
    binder.bind(found, "png_image_free");
    EXPECT_TRUE(binder.complete());
    Free* missing = nullptr;
    binder.bind(missing, "png_no_such_function");
    EXPECT_FALSE(binder.complete());
    EXPECT_EQ(missing, nullptr);
}

}  // namespace
