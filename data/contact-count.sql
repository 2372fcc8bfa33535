-- The number of contacts, kept by triggers so that showing it does not count
-- every row of a large register; right also when the sqlite3 tool inserts or
-- deletes rows.
CREATE TABLE CADA_CONTAGEM (N INTEGER NOT NULL);

INSERT INTO CADA_CONTAGEM (N) SELECT count(*) FROM CADA;

CREATE TRIGGER CADA_CONTA_INSERIDO AFTER INSERT ON CADA
BEGIN
    UPDATE CADA_CONTAGEM SET N = N + 1;
END;

CREATE TRIGGER CADA_CONTA_APAGADO AFTER DELETE ON CADA
BEGIN
    UPDATE CADA_CONTAGEM SET N = N - 1;
END;
