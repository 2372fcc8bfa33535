-- Names found by any part of them ("*silva"): a trigram index over CADA's
-- names, kept by triggers. It holds no copy of the names (they are read from
-- CADA) and no positions: it only narrows the rows the search then checks
-- with its own pattern.
CREATE VIRTUAL TABLE CADA_BUSCA USING fts5(
    A1, content = 'CADA', content_rowid = 'CD',
    tokenize = 'trigram case_sensitive 0', detail = 'none', columnsize = 0
);

-- Contacts up to this code are in the index. A register made before the
-- index is brought in in slices while Zuna runs; the triggers look after the
-- rows already brought in, the slices after the rest.
CREATE TABLE CADA_BUSCA_PREPARO (ATE INTEGER NOT NULL);

INSERT INTO CADA_BUSCA_PREPARO (ATE) VALUES (-1);

CREATE TRIGGER CADA_BUSCA_INSERIDO AFTER INSERT ON CADA
WHEN NEW.CD <= (SELECT ATE FROM CADA_BUSCA_PREPARO)
BEGIN
    INSERT INTO CADA_BUSCA (rowid, A1) VALUES (NEW.CD, NEW.A1);
END;

CREATE TRIGGER CADA_BUSCA_APAGADO AFTER DELETE ON CADA
WHEN OLD.CD <= (SELECT ATE FROM CADA_BUSCA_PREPARO)
BEGIN
    INSERT INTO CADA_BUSCA (CADA_BUSCA, rowid, A1) VALUES ('delete', OLD.CD, OLD.A1);
END;

CREATE TRIGGER CADA_BUSCA_ALTERADO AFTER UPDATE OF CD, A1 ON CADA
BEGIN
    INSERT INTO CADA_BUSCA (CADA_BUSCA, rowid, A1)
        SELECT 'delete', OLD.CD, OLD.A1 WHERE OLD.CD <= (SELECT ATE FROM CADA_BUSCA_PREPARO);
    INSERT INTO CADA_BUSCA (rowid, A1)
        SELECT NEW.CD, NEW.A1 WHERE NEW.CD <= (SELECT ATE FROM CADA_BUSCA_PREPARO);
END;
