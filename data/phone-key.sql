-- The key of each stored telephone, for the incoming-number lookup. Generated
-- columns: SQLite computes them from A4 on every insert and update, by any
-- program (the sqlite3 tool too), with built-in functions only. They take no
-- room in the file, only their index does.
--
-- A4_DIGITOS: the text without what people put between digits.
ALTER TABLE CADA ADD COLUMN A4_DIGITOS TEXT GENERATED ALWAYS AS (
    replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(
        lower(A4), ' ', ''), '(', ''), ')', ''), '-', ''), '.', ''), '/', ''), '+', ''),
        char(9), ''), char(160), ''), char(8211), ''), '0xx', '0')
) VIRTUAL;

-- A4_NACIONAL: without +55, the long-distance 0 and a carrier's code.
ALTER TABLE CADA ADD COLUMN A4_NACIONAL TEXT GENERATED ALWAYS AS (
    CASE
        WHEN A4_DIGITOS = '' OR A4_DIGITOS GLOB '*[^0-9]*' THEN NULL
        WHEN A4_DIGITOS GLOB '0[3589]00*' THEN A4_DIGITOS
        WHEN length(A4_DIGITOS) IN (12, 13) AND A4_DIGITOS GLOB '55[1-9][1-9]*' THEN substr(A4_DIGITOS, 3)
        WHEN length(A4_DIGITOS) IN (13, 14) AND A4_DIGITOS GLOB '0[1-9][0-9][1-9][1-9]*' THEN substr(A4_DIGITOS, 4)
        WHEN length(A4_DIGITOS) IN (10, 11, 12) AND A4_DIGITOS GLOB '0[1-9][1-9]*' THEN substr(A4_DIGITOS, 2)
        ELSE A4_DIGITOS
    END
) VIRTUAL;

-- A4_CHAVE: the key. Area code and subscriber number, or only the subscriber
-- number when none was written (the lookup adds that form for callers of the
-- desk's own area), an 8-digit mobile with its ninth digit, 0800, 0300, 0500,
-- 0900, 300X and 400X as dialled.
ALTER TABLE CADA ADD COLUMN A4_CHAVE TEXT GENERATED ALWAYS AS (
    CASE
        WHEN length(A4_NACIONAL) IN (10, 11) AND A4_NACIONAL GLOB '0[3589]00*' THEN A4_NACIONAL
        WHEN length(A4_NACIONAL) IN (9, 10) AND A4_NACIONAL GLOB '[3589]00*' THEN '0' || A4_NACIONAL
        WHEN A4_NACIONAL GLOB '0*' THEN NULL
        WHEN length(A4_NACIONAL) = 10 AND A4_NACIONAL GLOB '[1-9][1-9][34]00*' THEN substr(A4_NACIONAL, 3)
        WHEN length(A4_NACIONAL) = 10 AND A4_NACIONAL GLOB '[1-9][1-9][6-9]*'
            THEN substr(A4_NACIONAL, 1, 2) || '9' || substr(A4_NACIONAL, 3)
        WHEN length(A4_NACIONAL) = 8 AND A4_NACIONAL GLOB '[6-9]*' THEN '9' || A4_NACIONAL
        WHEN length(A4_NACIONAL) BETWEEN 7 AND 11 THEN A4_NACIONAL
    END
) VIRTUAL
