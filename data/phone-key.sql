-- The key of each contact's telephone, for the incoming-number lookup, in a
-- table of its own kept by triggers: SQLite fills it on every insert, update
-- and delete of CADA, by any program (the sqlite3 tool too), with built-in
-- functions only, and CADA keeps its ten columns.
CREATE TABLE CADA_FONES (
    CD INTEGER PRIMARY KEY, -- the contact's code in CADA
    CHAVE TEXT
);

-- A telephone's text arrives in CHAVE and becomes its key in three steps:
-- 1. the digits, without what people put between them ("0xx11" read as 011);
-- 2. the national number, without +55, the long-distance 0 and a carrier's
--    code;
-- 3. the key: area code and subscriber number, or only the subscriber number
--    when none was written (the lookup asks for that form for callers of the
--    desk's own area), an 8-digit mobile with its ninth digit, and 0800, 0300,
--    0500, 0900, 300X and 400X as dialled. Anything else has no key.
CREATE TRIGGER CADA_FONES_CHAVE AFTER INSERT ON CADA_FONES
BEGIN
    UPDATE CADA_FONES SET CHAVE =
        replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(replace(
            lower(CHAVE), ' ', ''), '(', ''), ')', ''), '-', ''), '.', ''), '/', ''), '+', ''),
            char(9), ''), char(160), ''), char(8211), ''), '0xx', '0')
    WHERE CD = NEW.CD;
    UPDATE CADA_FONES SET CHAVE = CASE
        WHEN CHAVE = '' OR CHAVE GLOB '*[^0-9]*' THEN NULL
        WHEN CHAVE GLOB '0[3589]00*' THEN CHAVE
        WHEN length(CHAVE) IN (12, 13) AND CHAVE GLOB '55[1-9][1-9]*' THEN substr(CHAVE, 3)
        WHEN length(CHAVE) IN (13, 14) AND CHAVE GLOB '0[1-9][0-9][1-9][1-9]*' THEN substr(CHAVE, 4)
        WHEN length(CHAVE) IN (10, 11, 12) AND CHAVE GLOB '0[1-9][1-9]*' THEN substr(CHAVE, 2)
        ELSE CHAVE
    END
    WHERE CD = NEW.CD;
    UPDATE CADA_FONES SET CHAVE = CASE
        WHEN length(CHAVE) IN (10, 11) AND CHAVE GLOB '0[3589]00*' THEN CHAVE
        WHEN length(CHAVE) IN (9, 10) AND CHAVE GLOB '[3589]00*' THEN '0' || CHAVE
        WHEN CHAVE GLOB '0*' THEN NULL
        WHEN length(CHAVE) = 10 AND CHAVE GLOB '[1-9][1-9][34]00*' THEN substr(CHAVE, 3)
        WHEN length(CHAVE) = 10 AND CHAVE GLOB '[1-9][1-9][6-9]*' THEN substr(CHAVE, 1, 2) || '9' || substr(CHAVE, 3)
        WHEN length(CHAVE) = 8 AND CHAVE GLOB '[6-9]*' THEN '9' || CHAVE
        WHEN length(CHAVE) BETWEEN 7 AND 11 THEN CHAVE
    END
    WHERE CD = NEW.CD AND CHAVE IS NOT NULL;
END;

CREATE TRIGGER CADA_FONE_INSERIDO AFTER INSERT ON CADA
BEGIN
    INSERT OR REPLACE INTO CADA_FONES (CD, CHAVE) VALUES (NEW.CD, NEW.A4);
END;

CREATE TRIGGER CADA_FONE_ALTERADO AFTER UPDATE OF CD, A4 ON CADA
BEGIN
    DELETE FROM CADA_FONES WHERE CD = OLD.CD;
    INSERT OR REPLACE INTO CADA_FONES (CD, CHAVE) VALUES (NEW.CD, NEW.A4);
END;

CREATE TRIGGER CADA_FONE_APAGADO AFTER DELETE ON CADA
BEGIN
    DELETE FROM CADA_FONES WHERE CD = OLD.CD;
END;
