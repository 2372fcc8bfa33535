-- The functions behind the register's triggers, as this version writes
-- them: run when a register is made, after the count is put in parts, and
-- by the first desk of this version that opens a register an earlier one
-- made (CREATE OR REPLACE: the tables are left as they are).
--
-- Every change to the register is announced to the desks naming the server
-- process whose statement made it. A desk knows the processes of its own
-- connections: it reads its list again after the other desks' changes, not
-- after its own, which it has read already. Replaces the announcement
-- without a name that earlier versions made; a desk of such a version reads
-- every announcement as another desk's, as it always did.
CREATE OR REPLACE FUNCTION zuna_avisa() RETURNS TRIGGER
LANGUAGE plpgsql
AS $$
BEGIN
    PERFORM pg_notify('zuna_cadastro', pg_backend_pid()::text);
    RETURN NULL;
END
$$;

-- Each row counted takes a part no other open transaction holds (SKIP
-- LOCKED), starting from one of the session's own, so that desks saving at
-- once seldom meet and never wait on one another. When every one of the 64
-- is held (more desks saving at once than parts), the row is counted on a
-- part beyond them, one of 192 made when first needed, chosen by the
-- session: such a save waits only when another save holds that very part.
CREATE OR REPLACE FUNCTION zuna_conta() RETURNS TRIGGER
LANGUAGE plpgsql
AS $$
DECLARE
    preferida INT := pg_backend_pid() % 64;
    escolhida INT;
    mudanca INT := CASE WHEN TG_OP = 'INSERT' THEN 1 ELSE -1 END;
BEGIN
    SELECT parte INTO escolhida FROM cada_contagem_parte WHERE parte < 64
        ORDER BY (parte + 64 - preferida) % 64 LIMIT 1 FOR UPDATE SKIP LOCKED;
    IF escolhida IS NULL THEN
        INSERT INTO cada_contagem_parte (parte, n) VALUES (64 + pg_backend_pid() % 192, mudanca)
            ON CONFLICT (parte) DO UPDATE SET n = cada_contagem_parte.n + EXCLUDED.n;
    ELSE
        UPDATE cada_contagem_parte SET n = n + mudanca WHERE parte = escolhida;
    END IF;
    RETURN NULL;
END
$$
