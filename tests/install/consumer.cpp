// A small host on the installed editdb: it loads the installed plug-in,
// lets it correct the database named on its command line in a transaction
// of its own, and prints what its connection told it.

#include <editdb.h>

#include <dataaccess/DatabaseError.h>
#include <dataaccess/DbConnection.h>

#include <dlfcn.h>

#include <cstdint>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: consumer DATABASE\n";
        return 2;
    }
    void* plugin = dlopen(EDITDB_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        std::cerr << dlerror() << '\n';
        return 2;
    }
    const auto execEditDb = reinterpret_cast<ExecEditDbFunction>(dlsym(plugin, "Exec_EditDb"));
    if (!execEditDb) return 2;

    int statements = 0;
    std::int64_t rows = 0;
    dataaccess::DbConnection connection(argv[1]);
    connection.OnExecuteComplete([&](const dataaccess::ExecuteCompletion& completion) {
        ++statements;
        if (completion.rowsAffected > 0) rows += completion.rowsAffected;
    });
    connection.BeginTrans();
    execEditDb(&connection, "", 0);
    connection.CommitTrans();
    std::cout << "statements " << statements << ", rows changed " << rows << '\n';

    try {
        connection.Execute(u"update GZS007 set nope=1");
    } catch (const dataaccess::DatabaseError& error) {
        std::cout << "refused: " << error.what() << '\n';
    }
    connection.Close();
    dlclose(plugin);
    return 0;
}
