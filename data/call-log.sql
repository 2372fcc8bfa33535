-- The call log: every call that came in, whatever the source, with the
-- contact it was found as (NULL: not in the register) and that contact's name
-- when the call came. QUANDO is local time, 'AAAA-MM-DD HH:MM:SS'. BUSCA is
-- what the calls window's text filter looks in: the names folded as the name
-- search folds them, and the number's digits.
CREATE TABLE CHAMADAS (
    ID INTEGER PRIMARY KEY AUTOINCREMENT,
    QUANDO TEXT NOT NULL,
    TIPO TEXT NOT NULL,
    RECEBIDO TEXT NOT NULL,
    CHAVE TEXT NOT NULL,
    NUMERO TEXT NOT NULL,
    NOME_LINHA TEXT NOT NULL,
    FONTE TEXT NOT NULL,
    LINHA TEXT NOT NULL,
    CD INTEGER,
    NOME TEXT NOT NULL,
    BUSCA TEXT NOT NULL
);

CREATE INDEX CHAMADAS_QUANDO ON CHAMADAS (QUANDO);
CREATE INDEX CHAMADAS_NAO_CADASTRADOS ON CHAMADAS (ID) WHERE CD IS NULL;

-- Parts of BUSCA found by trigrams, for a filter that few calls match.
CREATE VIRTUAL TABLE CHAMADAS_BUSCA USING fts5(
    BUSCA, content = 'CHAMADAS', content_rowid = 'ID',
    tokenize = 'trigram case_sensitive 0', detail = 'none', columnsize = 0
);

CREATE TRIGGER CHAMADAS_BUSCA_INSERIDA AFTER INSERT ON CHAMADAS
BEGIN
    INSERT INTO CHAMADAS_BUSCA (rowid, BUSCA) VALUES (NEW.ID, NEW.BUSCA);
END;

CREATE TRIGGER CHAMADAS_BUSCA_APAGADA AFTER DELETE ON CHAMADAS
BEGIN
    INSERT INTO CHAMADAS_BUSCA (CHAMADAS_BUSCA, rowid, BUSCA) VALUES ('delete', OLD.ID, OLD.BUSCA);
END;

CREATE TRIGGER CHAMADAS_BUSCA_ALTERADA AFTER UPDATE OF ID, BUSCA ON CHAMADAS
BEGIN
    INSERT INTO CHAMADAS_BUSCA (CHAMADAS_BUSCA, rowid, BUSCA) VALUES ('delete', OLD.ID, OLD.BUSCA);
    INSERT INTO CHAMADAS_BUSCA (rowid, BUSCA) VALUES (NEW.ID, NEW.BUSCA);
END;
