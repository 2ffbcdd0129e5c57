// The plug-in as a loadable library: what it exports, how its failures
// cross into the host, and loading it again and again.

#include "TestSupport.h"

#include <dataaccess/DatabaseError.h>

#include <gtest/gtest.h>

#include <elf.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <typeinfo>

using namespace testsupport;

namespace {

// The names of the symbols a 64-bit ELF file defines in its symbol tables
// of the given type (SHT_DYNSYM or SHT_SYMTAB), undefined imports left out.
std::vector<std::string> DefinedSymbols(const std::filesystem::path& path, Elf64_Word tableType) {
    std::ifstream in(path, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (image.size() < sizeof(Elf64_Ehdr)) throw std::runtime_error("not an ELF file");
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    std::vector<std::string> names;
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != tableType) continue;
        const Elf64_Shdr& strings = sections[sections[i].sh_link];
        const auto* symbols = reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
        for (std::size_t k = 0; k < sections[i].sh_size / sizeof(Elf64_Sym); ++k) {
            if (symbols[k].st_shndx == SHN_UNDEF || symbols[k].st_name == 0) continue;
            names.emplace_back(image.data() + strings.sh_offset + symbols[k].st_name);
        }
    }
    return names;
}

TEST(PluginBoundary, ExportsExecEditDbAlone) {
    EXPECT_EQ(DefinedSymbols(PluginPath(), SHT_DYNSYM), std::vector<std::string>{"Exec_EditDb"});
}

// The compiler names the function that constructs (or destroys) a
// translation unit's static objects _GLOBAL__sub_I_ (_D_); none may exist, so
// that loading and unloading the plug-in run none of its code.
TEST(PluginBoundary, HasNoStaticConstructorsOrDestructors) {
    const std::vector<std::string> symbols = DefinedSymbols(PluginPath(), SHT_SYMTAB);
    ASSERT_NE(std::find(symbols.begin(), symbols.end(), "Exec_EditDb"), symbols.end())
        << "the plug-in's full symbol table is needed for this check";
    for (const std::string& name : symbols) {
        EXPECT_EQ(name.rfind("_GLOBAL__sub_", 0), std::string::npos) << name;
    }
}

TEST(PluginBoundary, DatabaseErrorArrivesAsTheHostsOwnType) {
    TempDir dir;
    SqliteFile db(dir / "empty.db", "CREATE TABLE unrelated (x);");
    LoadedPlugin plugin;
    dataaccess::DbConnection connection(db.path().string());
    try {
        plugin.Call(&connection);
        FAIL() << "the call succeeded without a GZS007 table";
    } catch (const std::exception& error) {
        EXPECT_EQ(typeid(error), typeid(dataaccess::DatabaseError));
        EXPECT_NE(dynamic_cast<const dataaccess::DatabaseError*>(&error), nullptr);
        EXPECT_STREQ(error.what(), "no such table: GZS007");
    }
}

TEST(PluginBoundary, NullConnectionFailsClearlyAndRunsNothing) {
    LoadedPlugin plugin;
    try {
        plugin.Call(nullptr, "text", 1);
        FAIL() << "a null connection was accepted";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "Exec_EditDb: the host connection is null");
    }
}

TEST(PluginBoundary, LoadCallUnloadAndLoadAgain) {
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kGzs007Schema);
    for (int cycle = 0; cycle < 5; ++cycle) {
        db.Insert({Row{"G" + std::to_string(cycle), "X", "A", "P", 1, 0}});
        LoadedPlugin plugin;
        dataaccess::DbConnection connection(db.path().string());
        plugin.Call(&connection);
        EXPECT_EQ(db.Count("SELECT count(*) FROM GZS007 WHERE SSSS014=-1"), cycle + 1);
    }
}

TEST(PluginBoundary, TwoLoadsOfThePluginShareOneConnection) {
    TempDir dir;
    SqliteFile db(dir / "gzs007.db", kGzs007Schema);
    db.Insert({Row{"G", "X", "A", "P", 1, 0}});
    dataaccess::DbConnection connection(db.path().string());
    LoadedPlugin first;
    LoadedPlugin second;
    first.Call(&connection);
    second.Call(&connection);
    EXPECT_EQ(connection.DataSetCount(), 0u);
    EXPECT_EQ(db.Count("SELECT SSSS014 FROM GZS007"), -1);
}

}  // namespace
