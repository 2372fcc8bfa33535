#pragma once

// What a failed operation on the register met, decided where the failure is
// met from the database's own codes (SQLite's result codes, PostgreSQL's
// SQLSTATE and the connection's state), never from the words of a message.
// The window decides by it what to do (wait, try again, give up); the
// attendant's sentence is made from it.
enum class RegisterProblem {
    None,
    Lost, // the server's connection is gone
    NoAnswer, // the server did not answer in time: the connection was given up
    Busy, // another program or desk holds what the operation needed
    Slow, // the operation was ended at its time limit
    NoRegister, // the database lacks the register's tables or functions
    ReadOnly, // the file or its folder may not be written
    DiskFull, // no room left on the disk
    Damaged, // the file is damaged or not a database at all
    CantOpen, // the file could not be opened
    DiskError, // the disk failed to read or write
    Other,
};
